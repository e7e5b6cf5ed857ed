#include "serverprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QRegularExpression>

ServerProcess::ServerProcess(const QString& config, const QStringList& arguments)
    : extraArguments(arguments)
{
    QFile file(QDir(data.path()).filePath("server.ini"));
    if (file.open(QIODevice::WriteOnly))
        file.write(config.toUtf8());
}

ServerProcess::~ServerProcess()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
}

QStringList ServerProcess::baseArguments() const
{
    return {"--data", data.path(), "--config", QDir(data.path()).filePath("server.ini")};
}

bool ServerProcess::start()
{
    stderrText.clear();
    process.start(TILEPARLOR_SERVER_EXECUTABLE,
                  baseArguments() + extraArguments + QStringList{"--port", "0"});
    if (!waitForLog("listening on "))
        return false;
    const QRegularExpressionMatch match =
        QRegularExpression("listening on \\S*:(\\d+)").match(stderrText);
    listeningPort = quint16(match.captured(1).toUInt());
    return listeningPort != 0;
}

QString ServerProcess::log()
{
    stderrText += QString::fromUtf8(process.readAllStandardError());
    return stderrText;
}

bool ServerProcess::waitForLog(const QString& fragment, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!log().contains(fragment)) {
        if (deadline.hasExpired() || process.state() == QProcess::NotRunning) {
            qWarning().noquote() << "server log without" << fragment << ":\n" << stderrText;
            return false;
        }
        process.waitForReadyRead(20);
        QCoreApplication::processEvents();
    }
    return true;
}

bool ServerProcess::createAccount(const QString& name, const QString& password,
                                  const QString& handle, bool admin)
{
    QStringList arguments = baseArguments() + QStringList{"create-account", name, password, handle};
    if (admin)
        arguments << "--admin";
    QProcess run;
    run.start(TILEPARLOR_SERVER_EXECUTABLE, arguments);
    return run.waitForFinished(60000) && run.exitStatus() == QProcess::NormalExit &&
           run.exitCode() == 0;
}

int ServerProcess::terminate()
{
    process.terminate();
    if (!process.waitForFinished(20000))
        return -1;
    log();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}
