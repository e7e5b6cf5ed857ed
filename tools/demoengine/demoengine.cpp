// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for the game's engine, for development and tests; it is not the game. Started as
// "--parlor R W" with R the read end of its order pipe and W the write end of an output pipe it
// never uses, it reads one 272-byte order block after another and shows the latest order with a
// 終了 button. It ends on the stop order, on that button, or when its input closes. Run offscreen
// with TILEPARLOR_DEMOENGINE_LOG set, it appends every block it read, as one line of hex, to the
// file that variable names.

#include "match/engineorder.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <QtEndian>

#include <cstdlib>
#include <cstring>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <unistd.h>
#endif

namespace
{

// The pipe end numbers after "--parlor"; false when the command line does not name them.
bool parlorHandles(int argc, char** argv, quintptr* input)
{
    for (int i = 0; i + 2 < argc; ++i) {
        if (std::strcmp(argv[i], "--parlor") == 0) {
            bool ok = false;
            *input = QByteArray(argv[i + 1]).toULongLong(&ok);
            return ok;
        }
    }
    return false;
}

// Fills block from the pipe; false once the pipe has closed or failed before it was full.
bool readBlock(quintptr input, char* block)
{
    int got = 0;
    while (got < orderBlockSize) {
#ifdef Q_OS_WIN
        DWORD count = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(input), block + got, DWORD(orderBlockSize - got),
                      &count, nullptr) ||
            count == 0)
            return false;
#else
        const ssize_t count = read(int(input), block + got, std::size_t(orderBlockSize - got));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return false;
#endif
        got += int(count);
    }
    return true;
}

void appendToLog(const QByteArray& block)
{
    const QByteArray path = qgetenv("TILEPARLOR_DEMOENGINE_LOG");
    if (path.isEmpty() || QGuiApplication::platformName() != "offscreen")
        return;
    QFile log(QString::fromLocal8Bit(path));
    // Opened for each block, so that a reader sees every line as soon as it is written.
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(block.toHex() + '\n');
}

QString describe(const QByteArray& block)
{
    switch (qFromLittleEndian<quint32>(block.constData())) {
    case HostOrder:
        return "ホストとして対戦を開きます。";
    case JoinOrder:
        return "対戦に参加します: " + QString::fromLocal8Bit(block.constData() + orderTextOffset);
    default:
        return "不明な指示です。";
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    quintptr input = 0;
    if (!parlorHandles(argc, argv, &input))
        return 2;

    QWidget window;
    window.setWindowTitle("デモエンジン (星環演武の代役)");
    auto* layout = new QVBoxLayout(&window);
    auto* order = new QLabel("指示を待っています。", &window);
    auto* end = new QPushButton("終了", &window);
    layout->addWidget(order);
    layout->addWidget(end);
    QObject::connect(end, &QPushButton::clicked, &app, &QApplication::quit);
    window.show();

    // Reading blocks, so it runs beside the event loop; it stops after the stop order or when
    // the input closes.
    std::thread reader([input, order, &app] {
        char block[orderBlockSize];
        while (readBlock(input, block)) {
            const QByteArray received(block, orderBlockSize);
            const bool stop = qFromLittleEndian<quint32>(block) == StopOrder;
            QMetaObject::invokeMethod(&app, [received, stop, order, &app] {
                appendToLog(received);
                if (stop)
                    app.quit();
                else
                    order->setText(describe(received));
            });
            if (stop)
                return;
        }
        QMetaObject::invokeMethod(&app, &QApplication::quit);
    });
    reader.detach();

    const int code = app.exec();
    // The reader may still wait in a read nothing can interrupt portably; ending the process at
    // once takes it down without running the destructors of what it refers to.
    std::_Exit(code);
}
