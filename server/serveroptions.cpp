// SPDX-License-Identifier: GPL-3.0-or-later
#include "serveroptions.h"

#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>

static const char description[] =
    "The tileParlor lobby server.\n"
    "\n"
    "Subcommands (instead of running the server):\n"
    "  list-accounts                      list every account\n"
    "  make-admin ACCOUNT [--revoke]      make an account an administrator (or no longer)\n"
    "  create-account ACCOUNT PASSWORD [HANDLE] [--mail ADDRESS] [--admin]\n"
    "                                     create an account without a registration mail\n"
    "  unlock-account ACCOUNT             lift the lock that failed logins put on an account\n"
    "  control list                       list who is online (account, handle, address, rooms)\n"
    "  control kick ACCOUNT [REASON]      disconnect a user of the running server\n"
    "  control mute ACCOUNT SECONDS|forever [REASON]\n"
    "                                     refuse the account's chat lines (until a restart)\n"
    "  control unmute ACCOUNT             lift a mute\n"
    "  control ban account|range TARGET SECONDS|forever [REASON]\n"
    "                                     refuse an account's or an address range's logins\n"
    "  control unban account|range TARGET lift the bans on it\n"
    "  control bans                       the bans in force\n"
    "  control message TEXT               set the system message and send it to everyone\n"
    "  control audit [N]                  the newest N (20) moderation actions";

[[noreturn]] static void failUsage(const QString& message)
{
    std::fprintf(stderr, "tileparlor-server: %s\n", qPrintable(message));
    std::exit(2);
}

static QString defaultDataFolder()
{
    // systemd's StateDirectory= hands the folder over in STATE_DIRECTORY.
    const QString state = qEnvironmentVariable("STATE_DIRECTORY");
    if (!state.isEmpty())
        return state.split(':').first();
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath("tileparlor-server");
}

static QString defaultConfigFile(const QString& dataFolder)
{
    const QString configured = qEnvironmentVariable("CONFIGURATION_DIRECTORY");
    const QString folder = configured.isEmpty() ? dataFolder : configured.split(':').first();
    return QDir(folder).filePath("server.ini");
}

ServerOptions parseServerOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listen(
        "listen", "Address to listen on (default 127.0.0.1; \"any\": every IPv4 and IPv6 address).",
        "address", "127.0.0.1");
    const QCommandLineOption port("port", "TCP port (default 14142; 0 takes any free port).",
                                  "port", "14142");
    const QCommandLineOption data("data",
                                  "Data folder: database, outbox/ (default $STATE_DIRECTORY or "
                                  "~/.local/share/tileparlor-server).",
                                  "folder");
    const QCommandLineOption database(
        "database",
        "sqlite:FILE, postgresql: (PG* environment) or postgresql://user:pw@host:port/db "
        "(default: database/url of the configuration, else SQLite in the data folder).",
        "location");
    const QCommandLineOption config(
        "config",
        "INI configuration file (default server.ini in $CONFIGURATION_DIRECTORY or "
        "the data folder, if it exists).",
        "file");
    const QCommandLineOption tlsCertificate(
        "tls-cert", "PEM certificate chain: TLS on the same port (default: tls/certificate).",
        "file");
    const QCommandLineOption tlsKey("tls-key", "PEM private key of --tls-cert (default: tls/key).",
                                    "file");
    const QCommandLineOption metrics(
        "metrics",
        "Serve GET /metrics for Prometheus on PORT (loopback) or ADDRESS:PORT "
        "(default: metrics/listen; none).",
        "[address:]port");
    const QCommandLineOption mail("mail", "create-account: the account's mail address.", "address");
    const QCommandLineOption admin("admin", "create-account: make it an administrator.");
    const QCommandLineOption revoke("revoke", "make-admin: take the administrator flag away.");
    parser.addOptions({listen, port, data, database, config, tlsCertificate, tlsKey, metrics, mail,
                       admin, revoke});
    parser.addPositionalArgument("subcommand", "See above; none runs the server.",
                                 "[subcommand [arguments]]");
    parser.process(arguments);

    ServerOptions options;
    if (parser.value(listen) == "any")
        options.listen = QHostAddress::Any;
    else if (!options.listen.setAddress(parser.value(listen)))
        failUsage("--listen needs an IP address, not " + parser.value(listen));
    bool ok = false;
    const uint portNumber = parser.value(port).toUInt(&ok);
    if (!ok || portNumber > 65535)
        failUsage("--port needs a number from 0 to 65535");
    options.port = quint16(portNumber);
    options.dataFolder = parser.isSet(data) ? parser.value(data) : defaultDataFolder();
    options.database = parser.value(database);
    options.configRequired = parser.isSet(config);
    options.configFile =
        parser.isSet(config) ? parser.value(config) : defaultConfigFile(options.dataFolder);
    options.metrics = parser.value(metrics);
    options.tlsCertificate = parser.value(tlsCertificate);
    options.tlsKey = parser.value(tlsKey);
    options.command = parser.positionalArguments();
    options.mail = parser.value(mail);
    options.admin = parser.isSet(admin);
    options.revoke = parser.isSet(revoke);
    return options;
}
