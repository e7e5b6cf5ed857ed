// SPDX-License-Identifier: GPL-3.0-or-later
// Floods an open, visible chat room with chat lines through the real connection and router:
// a lobby on 127.0.0.1 logs the client in, lets it enter one room, then sends 20,000 room
// events in one go. Prints events per second until both logs show every line, and the longest
// time the event loop was blocked meanwhile (the largest gap between 1 ms timer ticks).
#include "app/globals.h"
#include "app/startup.h"
#include "mainwindow/mainwindow.h"
#include "lobbymessages.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSplitter>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextBlock>
#include <QTimer>
#include <QtEndian>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace
{

constexpr int eventCount = 20000;
constexpr quint32 benchRoom = 4;
constexpr quint32 benchUser = 77;

std::string chatLine(int i)
{
    return "line " + std::to_string(i);
}

// The lobby's side, on its own thread with blocking sockets so that it never holds up the
// client's event loop: answers the login, the room list and the room, then floods on demand.
class Lobby
{
  public:
    explicit Lobby(int listener) : listener(listener) {}

    void run()
    {
        peer = accept(listener, nullptr, nullptr);
        std::vector<char> payload;
        if (!readFrame(payload))
            return;
        send(FrameWriter::serverHello(0).toByteArray());
        while (true) {
            pollfd ready{peer, POLLIN, 0};
            if (poll(&ready, 1, 5) > 0) {
                if (!readFrame(payload))
                    return;
                answer(qFromLittleEndian<quint32>(payload.data()));
            }
            if (floodWanted.exchange(false))
                flood();
        }
    }

    std::atomic<bool> floodWanted{false};

  private:
    bool readAll(char* into, size_t size)
    {
        for (size_t got = 0; got < size;) {
            const ssize_t n = recv(peer, into + got, size - got, 0);
            if (n <= 0)
                return false;
            got += size_t(n);
        }
        return true;
    }

    bool readFrame(std::vector<char>& payload)
    {
        char prefix[4];
        if (!readAll(prefix, 4))
            return false;
        payload.resize(qFromLittleEndian<quint32>(prefix));
        return readAll(payload.data(), payload.size());
    }

    void send(const QByteArray& bytes)
    {
        for (qsizetype sent = 0; sent < bytes.size();) {
            const ssize_t n =
                ::send(peer, bytes.data() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return;
            sent += n;
        }
    }

    void answer(quint32 code)
    {
        switch (code) {
        case Authenticate:
            send(frameBytes(LoginReply{0, benchUser, 1, ""}));
            break;
        case GetName:
            send(frameBytes(NameReply{0, "bench"}));
            break;
        case GetCount:
            send(frameBytes(ResultReply{benchRoom + 1}));
            break;
        case GetRoomInfo:
            send(frameBytes(RoomInfoReply{0, 0, "bench", 1, 8, chatOnlyGameId, noRoom}));
            break;
        }
    }

    void flood()
    {
        QByteArray all;
        for (int i = 0; i < eventCount; ++i) {
            const std::string line = chatLine(i);
            all += frameBytes(RoomEventFields{EventSpeak, benchRoom, benchUser, 0, 0, 0, line});
        }
        send(all);
    }

    int listener;
    int peer = -1;
};

int listenOnLoopback()
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("listen on 127.0.0.1");
        std::exit(1);
    }
    qputenv("TILEPARLOR_LOBBY_HOST", "127.0.0.1");
    qputenv("TILEPARLOR_LOBBY_PORT", QByteArray::number(ntohs(address.sin_port)));
    return listener;
}

bool waitFor(const std::function<bool()>& done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// Every line of the log from the first chat line on, in arrival order.
bool linesInOrder(const QPlainTextEdit* log, const QString& prefix)
{
    QTextBlock block = log->document()->lastBlock();
    for (int i = eventCount - 1; i >= 0; --i, block = block.previous()) {
        if (block.text() != prefix + "[bench] " + QString::fromStdString(chatLine(i)))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope, settingsDir.path());
    openSettingsStores();
    localCodec = QTextCodec::codecForName("UTF-8");
    userSettings->setValue("account/id", "bench");
    userSettings->setValue("account/password", "bench");

    const int listener = listenOnLoopback();
    Lobby lobby(listener);
    std::thread server(&Lobby::run, &lobby);

    auto* window = new MainWindow;
    window->show();
    auto* tabs = window->findChild<QTabWidget*>("tabWidget");
    if (!waitFor([&] { return tabs->count() == 1 && window->isEnabled(); })) {
        std::fprintf(stderr, "the client did not log in\n");
        return 1;
    }
    window->lobby().addRoomRequest(benchRoom, new QVector<uint>{benchUser});
    if (!waitFor([&] { return window->lobby().router().room(benchRoom) && window->isEnabled(); })) {
        std::fprintf(stderr, "the client did not enter the room\n");
        return 1;
    }
    const auto* roomLog = tabs->currentWidget()->findChild<QPlainTextEdit*>("textLog");
    const auto* allLog =
        window->findChild<QSplitter*>("splitterSub")->findChild<QPlainTextEdit*>("textLog");
    // The entry line comes first in both logs.
    const int wantedBlocks = eventCount + 1;

    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longestBlock = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(1);
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longestBlock = qMax(longestBlock, now - lastTick);
        lastTick = now;
        if (roomLog->blockCount() >= wantedBlocks && allLog->blockCount() >= wantedBlocks)
            QCoreApplication::exit(0); // quit() would ask the window, which refuses to close
    });
    clock.start();
    ticks.start();
    lobby.floodWanted = true;
    app.exec();
    const double seconds = clock.nsecsElapsed() / 1e9;

    const bool ordered = linesInOrder(roomLog, "") && linesInOrder(allLog, "(4) ");
    std::printf("room events              %d\n", eventCount);
    std::printf("seconds until shown      %.3f\n", seconds);
    std::printf("events per second        %.0f\n", eventCount / seconds);
    std::printf("longest event-loop block %.1f ms\n", longestBlock / 1e6);
    std::printf("lines in order           %s\n", ordered ? "yes" : "NO");

    delete window;
    server.join();
    close(listener);
    return ordered ? 0 : 1;
}
