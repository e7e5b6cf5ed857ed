// SPDX-License-Identifier: GPL-3.0-or-later
#include "locallobbyserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <sys/prctl.h>

namespace
{
// Account creations running at once: each one spends its time hashing the password.
constexpr int creationBatch = 4;
constexpr int creationTimeoutMs = 60000;

} // namespace

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
        QVector<QProcess*> batch;
        for (qsizetype i = first; i < qMin(first + size, accounts.size()); ++i) {
            auto* creation = new QProcess;
            const LobbyAccount& account = accounts[i];
            QStringList arguments =
                commonArguments() +
                QStringList{"create-account", account.name, account.password, account.handle};
            if (!account.mail.isEmpty())
                arguments << "--mail" << account.mail;
            if (account.admin)
                arguments << "--admin";
            creation->start(program, arguments);
            batch.append(creation);
        }
        for (QProcess* creation : batch) {
            const bool done = creation->waitForFinished(creationTimeoutMs) &&
                              creation->exitStatus() == QProcess::NormalExit &&
                              creation->exitCode() == 0;
            if (!done && error.isEmpty())
                error = "create-account: " + QString::fromUtf8(creation->readAllStandardError());
        }
        qDeleteAll(batch);
        if (!error.isEmpty())
            return false;
    }
    return true;
}

bool LocalLobbyServer::command(const QStringList& arguments, QByteArray* output)
{
    QProcess process;
    process.start(program, commonArguments() + arguments);
    const bool done = process.waitForFinished(creationTimeoutMs) &&
                      process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (output)
        *output = process.readAllStandardOutput();
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
