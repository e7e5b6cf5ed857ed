#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// The real server executable on 127.0.0.1, port 0, with a fresh data folder and the given
// configuration (INI text).
class ServerProcess
{
  public:
    explicit ServerProcess(const QString& config = {}, const QStringList& arguments = {});
    ~ServerProcess();

    // Starts the server and waits for its "listening on" line.
    bool start();
    quint16 port() const { return listeningPort; }
    QString dataFolder() const { return data.path(); }
    // The server's stderr so far.
    QString log();
    bool waitForLog(const QString& fragment, int timeoutMs = 10000);
    // Creates an account with the subcommand, on the same data folder and configuration.
    bool createAccount(const QString& name, const QString& password, const QString& handle,
                       bool admin = false);
    // SIGTERM and the wait for the exit; the exit code, or -1 when it did not exit normally.
    int terminate();

  private:
    QStringList baseArguments() const;

    const QStringList extraArguments;
    QTemporaryDir data;
    QProcess process;
    QString stderrText;
    quint16 listeningPort = 0;
};
