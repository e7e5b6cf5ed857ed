#include "app/startup.h"
#include "mainwindow/mainwindow.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    prepareClientProcess();

    MainWindow window;
    window.show();
    return app.exec();
}
