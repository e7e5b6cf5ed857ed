#include "clientwindow.h"

#include "app/globals.h"
#include "mainwindow/mainwindow.h"
#include "modalscript.h"
#include "protocol/protocolsocket.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
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
constexpr int loginTimeoutMs = 30000;
constexpr int stepTimeoutMs = 15000;
constexpr int stuckAfterMs = 60000;
constexpr int refreshTickMs = 20;

// Rows that are loading or hold no room start with a line break.
bool isFilledRow(const QPushButton* row)
{
    return !row->isHidden() && !row->text().startsWith('\n');
}

QList<QPushButton*> filledRows(const ChatRoomListForm* list)
{
    QList<QPushButton*> rows =
        list->findChild<QWidget*>("widgetList")->findChildren<QPushButton*>();
    rows.removeIf([](const QPushButton* row) { return !isFilledRow(row); });
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
    QObject::connect(&stuck, &QTimer::timeout, [] {
        if (QThread::currentThread()->loopLevel() > 0)
            qFatal("a modal window nobody answers: %s",
                   qPrintable(describeModal(QApplication::activeModalWidget())));
    });
    stuck.start(stuckAfterMs);
}

ClientWindow::~ClientWindow()
{
    window.reset();
    mainWindow = nullptr;
}

ChatRoomListForm* ClientWindow::waitForRoomList()
{
    const bool shown =
        QTest::qWaitFor([this] { return roomListOf(window.get()) && isIdle(); }, loginTimeoutMs);
    if (!shown)
        return nullptr;
    ChatRoomListForm* list = roomListOf(window.get());
    list->findChild<QTimer*>("refreshTimer")->setInterval(refreshTickMs);
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
    ChatRoomListForm* list = roomListOf(window.get());
    QPushButton* found = nullptr;
    const auto ready = [&] {
        const QList<QPushButton*> rows = filledRows(list);
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const QPushButton* row) {
            return row->text().section('\n', 1, 1) == title && row->isEnabled();
        });
        found = row == rows.end() ? nullptr : *row;
        return found && isIdle();
    };
    if (!showIdle(list) || !QTest::qWaitFor(ready, stepTimeoutMs))
        return false;
    found->click();
    return true;
}

QStringList chatLog(const ChatRoomForm* room)
{
    return room->findChild<QPlainTextEdit*>("textLog")->toPlainText().split('\n');
}
