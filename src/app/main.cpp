// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"
#include "mainwindow/mainwindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    prepareClientProcess();

    MainWindow window;
    window.show();
    qDebug("[main] window shown");
    return app.exec();
}
