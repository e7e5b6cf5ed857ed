// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/startup.h"
#include "mainwindow/mainwindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Ties the windows to the installed menu entry and its icon: Wayland matches by this name,
    // X11 desktops by the window class (the entry's StartupWMClass).
    QGuiApplication::setDesktopFileName("org.tileparlor.TileParlor");
    prepareClientProcess();

    MainWindow window;
    window.show();
    qDebug("[main] window shown");
    return app.exec();
}
