// SPDX-License-Identifier: GPL-3.0-or-later
#include "locallobbyserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <memory>
#include <sys/prctl.h>

// Account creations running at once: each one spends its time hashing the password.
static constexpr int creationBatch = 4;
static constexpr int creationTimeoutMs = 60000;

// A subcommand that ended in time and succeeded.
static bool succeeded(QProcess& process)
{
    return process.waitForFinished(creationTimeoutMs) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void endWithThisProcess(QProcess& process)
{
    process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
}

LocalLobbyServer::LocalLobbyServer(const QString& program, const QString& dataFolder)
    : program(program), dataFolder(dataFolder)
{
}

LocalLobbyServer::~LocalLobbyServer()
{
    if (isRunning())
        stop();
}

QStringList LocalLobbyServer::commonArguments() const
{
    return {"--data", dataFolder, "--config", QDir(dataFolder).filePath("server.ini")};
}

bool LocalLobbyServer::writeConfig(const QByteArray& ini)
{
    QFile file(QDir(dataFolder).filePath("server.ini"));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(ini) == ini.size();
}

bool LocalLobbyServer::createAccounts(const QVector<LobbyAccount>& accounts, QString& error)
{
    // The first creation goes alone: it also creates the database, which the others must not
    // race for.
    for (qsizetype first = 0, size = 1; first < accounts.size();
         first += size, size = creationBatch) {
        std::vector<std::unique_ptr<QProcess>> batch;
        for (const LobbyAccount& account : accounts.mid(first, size)) {
            QStringList arguments{"create-account", account.name, account.password, account.handle};
            if (!account.mail.isEmpty())
                arguments << "--mail" << account.mail;
            if (account.admin)
                arguments << "--admin";
            batch.push_back(std::make_unique<QProcess>());
            batch.back()->start(program, commonArguments() + arguments);
        }
        for (const auto& creation : batch)
            if (!succeeded(*creation) && error.isEmpty())
                error = "create-account: " + QString::fromUtf8(creation->readAllStandardError());
        if (!error.isEmpty())
            return false;
    }
    return true;
}

bool LocalLobbyServer::command(const QStringList& arguments, QByteArray* output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, commonArguments() + arguments);
    const bool done = succeeded(process);
    if (output)
        *output = process.readAll();
    return done;
}

bool LocalLobbyServer::start(QString& error, int timeoutMs)
{
    process.setReadChannel(QProcess::StandardError);
    // A test that aborts takes its server with it instead of leaving it running.
    endWithThisProcess(process);
    process.start(program, commonArguments() + QStringList{"--listen", "127.0.0.1", "--port", "0"});
    static const QRegularExpression listening("listening on [0-9.]+:([0-9]+)");
    // A restarted server's log goes on after its last run's, which names another port.
    const qsizetype thisRun = serverLog.size();
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && process.waitForReadyRead(int(deadline.remainingTime()))) {
        serverLog += process.readAllStandardError();
        const QRegularExpressionMatch match =
            listening.match(QString::fromUtf8(serverLog.mid(thisRun)));
        if (match.hasMatch()) {
            listenPort = quint16(match.captured(1).toUInt());
            return true;
        }
    }
    error = "the server did not start listening: " + QString::fromUtf8(serverLog);
    process.kill();
    process.waitForFinished();
    return false;
}

int LocalLobbyServer::stop(int timeoutMs)
{
    process.terminate();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    log();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

QByteArray LocalLobbyServer::log()
{
    // The pipe is read by the event loop, which a test that waits on its own sockets does not
    // run: without this, the log could lag behind what the server has long written.
    while (process.state() == QProcess::Running && process.waitForReadyRead(0)) {
    }
    serverLog += process.readAllStandardError();
    return serverLog;
}
