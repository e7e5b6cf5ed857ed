// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/childscenario.h"

#include <QCoreApplication>
#include <QProcess>

ScenarioResult runScenario(const QString& name, int timeoutMs)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--scenario", name});
    ScenarioResult result;
    result.finished = child.waitForFinished(timeoutMs);
    if (!result.finished)
        child.kill();
    child.waitForFinished();
    result.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    result.stdErr = QString::fromUtf8(child.readAllStandardError());
    return result;
}

QString scenarioName(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--scenario")
            return QString::fromUtf8(argv[i + 1]);
    return "";
}
