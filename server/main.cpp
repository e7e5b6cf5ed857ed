// SPDX-License-Identifier: GPL-3.0-or-later
#include "accountcommands.h"
#include "lobbyserver.h"
#include "controlsocket.h"
#include "metricsendpoint.h"
#include "outbox.h"
#include "serverconfig.h"
#include "serverlog.h"
#include "serveroptions.h"
#include "shutdownsignal.h"
#include "sqlstore.h"
#include "storeworker.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

static int fail(const QString& message)
{
    qCritical().noquote() << "tileparlor-server:" << message;
    return 1;
}

// Every client holds a descriptor; the soft limit (often 1024) would cap the lobby long
// before memory does.
static void raiseOpenFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    qInfo().noquote() << "open-file limit" << quint64(limit.rlim_cur);
}

int main(int argc, char** argv)
{
    // GLib's event loop finds a socket's notifier by walking a list of all of them, and a socket
    // switches its write notifier on and off around every reply: with thousands of clients the
    // server spent its time there. Qt's own loop keeps them in a hash.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tileparlor-server");
    QCoreApplication::setApplicationVersion(TILEPARLOR_VERSION);
    installServerLog();

    const ServerOptions options = parseServerOptions(QCoreApplication::arguments());
    if (options.configRequired && !QFileInfo::exists(options.configFile))
        return fail("no configuration file " + options.configFile);
    ServerConfig config;
    QString error;
    if (!loadServerConfig(options.configFile, config, error))
        return fail(error);
    if (!QDir().mkpath(options.dataFolder))
        return fail("cannot create the data folder " + options.dataFolder);
    config.dataFolder = options.dataFolder;
    if (!options.tlsCertificate.isEmpty() || !options.tlsKey.isEmpty()) {
        config.tlsCertificate = options.tlsCertificate;
        config.tlsKey = options.tlsKey;
        config.tlsFromCommandLine = true;
        if (const QString why = tlsSettingsError(config); !why.isEmpty())
            return fail(why);
    }

    QString database = options.database;
    if (database.isEmpty())
        database = config.database;
    if (database.isEmpty())
        database = "sqlite:" + QDir(options.dataFolder).filePath("tileparlor.db");
    if (options.command.value(0) == "control")
        return runControlCommand(options.dataFolder, options.command.mid(1));
    if (!options.command.isEmpty()) {
        const std::unique_ptr<SqlStore> store = SqlStore::open(database, error);
        if (!store)
            return fail(error);
        return runAccountCommand(options, *store, config.passwordIterations);
    }
    // The server's store lives on a thread of its own, which alone may use the connection.
    StoreWorker store;
    const auto openStore = [&database, &store](QString& error) {
        return SqlStore::open(database, error, &store.figures());
    };
    if (!store.open(openStore, error))
        return fail(error);

    raiseOpenFileLimit();
    Outbox outbox(QDir(options.dataFolder).filePath("outbox"), config.mailFrom);
    if (!outbox.check(error))
        return fail(error);
    LobbyServer server(config, store, outbox);
    if (!server.loadTls(error))
        return fail(error);
    std::unique_ptr<MetricsEndpoint> metrics;
    if (const QString where = options.metrics.isEmpty() ? config.metricsListen : options.metrics;
        !where.isEmpty()) {
        QHostAddress address;
        quint16 port = 0;
        if (!parseMetricsAddress(where, address, port))
            return fail("metrics need PORT or ADDRESS:PORT, not " + where);
        metrics = std::make_unique<MetricsEndpoint>([&server] { return server.metricsReport(); });
        if (!metrics->listen(address, port, error))
            return fail(error);
        qInfo().noquote() << QString("metrics on http://%1:%2/metrics")
                                 .arg(address.protocol() == QAbstractSocket::IPv6Protocol
                                          ? "[" + address.toString() + "]"
                                          : address.toString())
                                 .arg(metrics->port());
    }

    ControlSocket control([&server](const QString& operatorName, const QStringList& words,
                                    const ControlSocket::Answer& answer) {
        server.moderation().control(operatorName, words, answer);
    });
    if (!control.listen(controlSocketPath(options.dataFolder), error))
        return fail(error);

    ShutdownSignal shutdownSignal;
    QObject::connect(&shutdownSignal, &ShutdownSignal::received, &server, [&](int number) {
        qInfo().noquote() << "signal" << number << "received";
        if (number == SIGHUP)
            server.reloadConfig(options.configFile, options.configRequired);
        else
            server.shutdown();
    });
    QObject::connect(&server, &LobbyServer::stopped, &app, &QCoreApplication::quit);

    // Last: whoever waits for this line may signal or connect at once.
    if (!server.listen(options.listen, options.port))
        return fail(QString("cannot listen on %1:%2: %3")
                        .arg(options.listen.toString())
                        .arg(options.port)
                        .arg(server.errorString()));
    qInfo().noquote() << QString("listening on %1:%2%3")
                             .arg(server.address().toString())
                             .arg(server.port())
                             .arg(config.tlsCertificate.isEmpty() ? ""
                                  : config.tlsRequired            ? " (TLS only)"
                                                                  : " (TLS and plain)");
    const int code = app.exec();
    qInfo().noquote() << "stopped";
    return code;
}
