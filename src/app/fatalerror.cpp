// SPDX-License-Identifier: GPL-3.0-or-later
// The two ways the program ends itself, alone in this file so that a program linking the core
// library can bring definitions of its own: the fuzz harness turns both into an unwind.

#include "app/globals.h"

#include <QDebug>
#include <QMessageBox>
#include <QSettings>

#include <cstdlib>

void exitProcess(int code)
{
    // exit() skips the destructors that would otherwise write pending settings.
    if (userSettings)
        userSettings->sync();
    if (machineSettings)
        machineSettings->sync();
    std::exit(code);
}

void fatalError(const QString& message)
{
    // The box runs a nested event loop; a second failure raised from inside it must not stack
    // another box on top of the first.
    static bool reporting = false;
    qDebug() << "critical error:" << message;
    if (reporting)
        exitProcess(1);
    reporting = true;
    QMessageBox::critical(nullptr, QObject::tr("critical error"), message, QMessageBox::Ok);
    exitProcess(1);
}
