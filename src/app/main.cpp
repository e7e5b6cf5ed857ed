#include "app/globals.h"
#include "app/startup.h"
#include "mainwindow/mainwindow.h"
#include "match/childprocess_native.h"

#include <QApplication>
#include <QTextCodec>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ignoreBrokenPipeSignal();
    setUpLocalCodec(QTextCodec::codecForLocale(),
                    [](const QByteArray& name) { return QTextCodec::codecForName(name); });
    openSettingsStores();

    MainWindow window;
    mainWindow = &window;
    window.show();
    return app.exec();
}
