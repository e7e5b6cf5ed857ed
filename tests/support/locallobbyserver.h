// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QVector>

struct LobbyAccount {
    QString name, password, handle;
    // Optional; initialised so that accounts given as {name, password, handle} stay complete.
    QString mail = {};
    bool admin = false;
};

// Makes the process, once started, end when this process ends in whatever way, so that a test
// that crashes or is killed leaves nothing running.
void endWithThisProcess(QProcess& process);

// The real lobby server, run as a child process on a free loopback port with a data folder and
// a configuration of its own, for tests and benchmarks. Its log is kept for diagnostics.
class LocalLobbyServer
{
  public:
    LocalLobbyServer(const QString& program, const QString& dataFolder);
    // Stops a server that is still running.
    ~LocalLobbyServer();

    // Writes the configuration file the server and its subcommands read.
    bool writeConfig(const QByteArray& ini);
    // Creates the accounts with the server's own subcommand, a few processes at a time.
    bool createAccounts(const QVector<LobbyAccount>& accounts, QString& error);
    // Runs one of the server's subcommands on this data folder; true when it succeeded. What
    // it printed, on either stream, goes to output, when given.
    bool command(const QStringList& arguments, QByteArray* output = nullptr);
    // Starts the server on port 0 and waits until it says where it listens.
    bool start(QString& error, int timeoutMs = 30000);
    // SIGTERM, then the exit code once it has ended; -1 if it crashed or did not end in time.
    int stop(int timeoutMs = 30000);

    quint16 port() const { return listenPort; }
    qint64 pid() const { return process.processId(); }
    bool isRunning() const { return process.state() == QProcess::Running; }
    // Everything the server wrote to stderr so far.
    QByteArray log();

  private:
    QStringList commonArguments() const;

    QString program;
    QString dataFolder;
    QProcess process;
    QByteArray serverLog;
    quint16 listenPort = 0;
};
