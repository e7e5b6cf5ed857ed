// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "locallobbyserver.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

inline QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A tileparlor-bot process playing in the lobby.
struct BotProcess {
    BotProcess(quint16 port, const QString& caFile, const LobbyAccount& account,
               const QStringList& options)
    {
        endWithThisProcess(process);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(BOT_PROGRAM, QStringList{"--host", "localhost", "--port",
                                               QString::number(port), "--ca", caFile, "--account",
                                               account.name, "--password", account.password} +
                                       options);
    }
    ~BotProcess() { stop(); }

    // Waits until the bot has said the text in its output or log.
    bool said(const QString& text)
    {
        const auto settled = [&] { return log().contains(text) || !process.processId(); };
        return QTest::qWaitFor(settled, 30000) && log().contains(text);
    }
    // Its exit code once stopped as a terminal does; -1 when it crashed or did not end.
    int stop()
    {
        process.terminate();
        return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
                   ? process.exitCode()
                   : -1;
    }
    QString log() { return output += QString::fromUtf8(process.readAll()); }

    QProcess process;
    QString output;
};

// The real lobby server with a data folder of its own: accounts made by its own subcommand, the
// permanent rooms 0 (chat) and 1 (game), its outbox, TLS required with a CA of its own, and the
// bots the test adds, which end before it.
class LobbySystem
{
  public:
    bool start(const QVector<LobbyAccount>& accounts)
    {
        // Rooms hold the server's default number of users.
        const QString config =
            "[rooms]\nsize=2\n1\\title=ロビー\n2\\title=対戦ルーム\n2\\gameId=0\n"
            "[tls]\nrequired=true\ncertificate=%1/localhost.pem\nkey=%1/localhost.key\n";
        const QString tls = data.filePath("tls");
        return QProcess::execute(CERTIFICATE_SCRIPT, {"ca", tls, "ca"}) == 0 &&
               QProcess::execute(CERTIFICATE_SCRIPT,
                                 {"server", tls, "ca", "localhost", "localhost"}) == 0 &&
               server.writeConfig(config.arg(tls).toUtf8()) &&
               server.createAccounts(accounts, failure) && server.start(failure);
    }
    quint16 port() const { return server.port(); }
    QString caFile() const { return data.filePath("tls/ca.pem"); }
    // Null when the bot did not get into its room.
    BotProcess* addBot(const LobbyAccount& account, const QStringList& options)
    {
        auto& bot =
            *bots.emplace_back(std::make_unique<BotProcess>(port(), caFile(), account, options));
        // "ready 0 of 1" when it could not get in.
        if (bot.said("ready ") && bot.log().contains("ready 1 of 1"))
            return &bot;
        failure = "bot " + account.name + " did not get in: " + bot.log();
        return nullptr;
    }

    // The value of the line "label: value" in the newest mail that has one.
    QString mailed(const QString& label) const
    {
        const QDir outbox(data.filePath("outbox"));
        QString mails; // newest first: they are named by the time they were written
        for (const QString& name :
             outbox.entryList({"*.eml"}, QDir::Files, QDir::Name | QDir::Reversed))
            mails += contents(outbox.filePath(name));
        const QRegularExpression line("^" + QRegularExpression::escape(label) + ": ([^\r\n]*)",
                                      QRegularExpression::MultilineOption);
        return line.match(mails).captured(1);
    }

    QString failure; // why a step failed, with the logs that tell

  private:
    QTemporaryDir data;
    LocalLobbyServer server{SERVER_PROGRAM, data.path()};
    std::vector<std::unique_ptr<BotProcess>> bots;
};
