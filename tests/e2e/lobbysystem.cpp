#include "lobbysystem.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

namespace
{
// Rooms hold the server's default number of users.
const QByteArray config = R"(
[rooms]
size=3
1\title=ロビー
2\title=対戦ルーム
2\gameId=0
3\title=秘密の部屋
3\password=demo
)";

constexpr int processTimeoutMs = 30000;
} // namespace

BotProcess::BotProcess(quint16 port, const LobbyAccount& account, const QStringList& options)
{
    endWithThisProcess(process);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(BOT_PROGRAM,
                  QStringList{"--host", "127.0.0.1", "--port", QString::number(port), "--account",
                              account.name, "--password", account.password} +
                      options);
}

bool BotProcess::said(const QString& text)
{
    const auto settled = [&] {
        return log().contains(text) || process.state() == QProcess::NotRunning;
    };
    return QTest::qWaitFor(settled, processTimeoutMs) && log().contains(text);
}

// One that does not end is killed with the QProcess.
int BotProcess::stop()
{
    process.terminate();
    const bool ended = process.waitForFinished(processTimeoutMs);
    return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

LobbySystem::LobbySystem() : server(std::make_unique<LocalLobbyServer>(SERVER_PROGRAM, data.path()))
{
}

bool LobbySystem::start(const QVector<LobbyAccount>& accounts)
{
    if (!server->writeConfig(config))
        error = "configuration not written in " + data.path();
    return error.isEmpty() && server->createAccounts(accounts, error) && server->start(error);
}

bool LobbySystem::restart()
{
    if (server->stop() != 0) {
        error = "the server did not stop in order: " + QString::fromUtf8(server->log());
        return false;
    }
    server = std::make_unique<LocalLobbyServer>(SERVER_PROGRAM, data.path());
    return server->start(error);
}

BotProcess* LobbySystem::addBot(const LobbyAccount& account, const QStringList& options)
{
    BotProcess* bot =
        bots.emplace_back(std::make_unique<BotProcess>(port(), account, options)).get();
    // "ready 0 of 1" when it could not get in.
    if (bot->said("ready ") && bot->log().contains("ready 1 of 1"))
        return bot;
    error = "bot " + account.name + " did not get in: " + bot->log();
    return nullptr;
}

QString LobbySystem::mailedValue(const QString& address, const QString& label) const
{
    const QDir outbox(data.filePath("outbox"));
    const QRegularExpression line("^" + QRegularExpression::escape(label) + ": (.*)$",
                                  QRegularExpression::MultilineOption);
    // Named by the time they were written.
    for (const QString& name :
         outbox.entryList({"*.eml"}, QDir::Files, QDir::Name | QDir::Reversed)) {
        QFile file(outbox.filePath(name));
        const QString mail =
            file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()).remove('\r') : "";
        const QRegularExpressionMatch value = line.match(mail);
        if (mail.contains("\nTo: <" + address + ">\n") && value.hasMatch())
            return value.captured(1);
    }
    return "";
}
