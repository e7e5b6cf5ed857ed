#include "clientwindow.h"

#include "app/globals.h"
#include "mainwindow/mainwindow.h"
#include "protocol/protocolsocket.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "support/modalanswer.h"
#include "support/windowtabs.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QThread>

#include <algorithm>

namespace
{
constexpr int stepTimeoutMs = 15000;

// Top to bottom; rows that are loading or hold no room start with a line break.
QList<QPushButton*> filledRows(const ChatRoomListForm* list)
{
    QList<QPushButton*> rows =
        list->findChild<QWidget*>("widgetList")->findChildren<QPushButton*>();
    rows.removeIf(
        [](const QPushButton* row) { return row->isHidden() || row->text().startsWith('\n'); });
    std::sort(rows.begin(), rows.end(),
              [](const QPushButton* a, const QPushButton* b) { return a->y() < b->y(); });
    return rows;
}
} // namespace

ClientWindow::ClientWindow(quint16 port)
{
    qputenv("TILEPARLOR_LOBBY_HOST", "127.0.0.1");
    qputenv("TILEPARLOR_LOBBY_PORT", QByteArray::number(port));
    window = std::make_unique<MainWindow>();
    mainWindow = window.get();
    window->show();
    stuck.setSingleShot(true);
    // Inside a modal window's loop the test never gets control back to fail on its own; what it
    // started dies with it.
    QObject::connect(&stuck, &QTimer::timeout, [] {
        if (QThread::currentThread()->loopLevel() > 0)
            qFatal("a modal window nobody answers: %s",
                   qPrintable(describeModal(QApplication::activeModalWidget())));
    });
    stuck.start(60000);
}

ClientWindow::~ClientWindow()
{
    window.reset();
    mainWindow = nullptr;
}

ChatRoomListForm* ClientWindow::waitForRoomList()
{
    if (!QTest::qWaitFor([this] { return roomListOf(window.get()) && isIdle(); }, 30000))
        return nullptr;
    ChatRoomListForm* list = roomListOf(window.get());
    list->findChild<QTimer*>("refreshTimer")->setInterval(20);
    return list;
}

ChatRoomForm* ClientWindow::waitForRoom(quint32 roomId)
{
    const bool shown = QTest::qWaitFor(
        [this, roomId] { return roomTabOf(window.get(), roomId) && isIdle(); }, stepTimeoutMs);
    return shown ? roomTabOf(window.get(), roomId) : nullptr;
}

// The window is enabled again only in a later turn of the event loop than the command's end, and
// disabled in a later turn than its start.
bool ClientWindow::isIdle() const
{
    const auto* socket = window->findChild<ProtocolSocket*>();
    return window->isEnabled() && socket && !socket->isCommandOpen();
}

bool ClientWindow::showIdle(QWidget* tab)
{
    tabsOf(window.get())->setCurrentWidget(tab);
    return QTest::qWaitFor([this] { return isIdle(); }, stepTimeoutMs);
}

QStringList ClientWindow::rows() const
{
    QStringList texts;
    for (const QPushButton* row : filledRows(roomListOf(window.get())))
        texts.append(row->text());
    return texts;
}

bool ClientWindow::clickRow(const QString& title)
{
    QPushButton* found = nullptr;
    const auto ready = [&] {
        found = nullptr;
        for (QPushButton* row : filledRows(roomListOf(window.get())))
            if (row->text().section('\n', 1, 1) == title && row->isEnabled())
                found = row;
        return found && isIdle();
    };
    if (!showIdle(roomListOf(window.get())) || !QTest::qWaitFor(ready, stepTimeoutMs))
        return false;
    found->click();
    return true;
}

QStringList chatLog(const ChatRoomForm* room)
{
    return room->findChild<QPlainTextEdit*>("textLog")->toPlainText().split('\n');
}
