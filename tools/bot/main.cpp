// SPDX-License-Identifier: GPL-3.0-or-later
#include "botcommandline.h"
#include "botswarm.h"
#include "terminationsignals.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace
{
// How long a bot waits for the server to answer its Quit before it leaves anyway.
constexpr int quitGraceMs = 5000;
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("tileparlor-bot");
    QCoreApplication::setApplicationVersion(QT_STRINGIFY(TILEPARLOR_VERSION));

    BotCommandLine commandLine;
    QString error;
    if (!parseBotCommandLine(app.arguments(), commandLine, error)) {
        std::fprintf(stderr, "tileparlor-bot: %s\n", qPrintable(error));
        return 2;
    }

    BotSwarm swarm(commandLine.settings, commandLine.connections);
    TerminationSignals termination;
    QObject::connect(&swarm, &BotSwarm::finished, &app, &QCoreApplication::exit);
    QObject::connect(&swarm, &BotSwarm::settled, [](int ready, int total) {
        // A line a script or a load driver can wait for.
        std::printf("ready %d of %d\n", ready, total);
        std::fflush(stdout);
    });
    QObject::connect(&termination, &TerminationSignals::received, &swarm, [&] {
        swarm.stop();
        QTimer::singleShot(quitGraceMs, &app, [] {
            qWarning("the server did not answer Quit in time");
            QCoreApplication::exit(1);
        });
    });
    swarm.start();
    return app.exec();
}
