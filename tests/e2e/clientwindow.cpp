#include "clientwindow.h"

#include "app/globals.h"
#include "mainwindow/mainwindow.h"
#include "protocol/protocolsocket.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "support/modalanswer.h"
#include "support/windowtabs.h"

#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QThread>

#include <algorithm>

ClientWindow::ClientWindow(quint16 port)
{
    qputenv("TILEPARLOR_LOBBY_HOST", "127.0.0.1");
    qputenv("TILEPARLOR_LOBBY_PORT", QByteArray::number(port));
    window = std::make_unique<MainWindow>();
    mainWindow = window.get();
    window->show();
    // Inside a modal window's loop the test never gets control back to fail on its own; what it
    // started dies with it.
    stuck.callOnTimeout([] {
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

bool ClientWindow::waitIdle(const std::function<bool()>& condition, int timeoutMs) const
{
    return QTest::qWaitFor([&] { return condition() && isIdle(); }, timeoutMs);
}

ChatRoomListForm* ClientWindow::waitForRoomList()
{
    if (!waitIdle([this] { return roomListOf(get()); }, 30000))
        return nullptr;
    roomListOf(get())->findChild<QTimer*>("refreshTimer")->setInterval(20);
    return roomListOf(get());
}

ChatRoomForm* ClientWindow::waitForRoom(quint32 roomId)
{
    return waitIdle([&] { return roomTabOf(get(), roomId); }) ? roomTabOf(get(), roomId) : nullptr;
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
    tabsOf(get())->setCurrentWidget(tab);
    return waitIdle([] { return true; });
}

// Top to bottom; rows that are loading or hold no room start with a line break.
QList<QPushButton*> ClientWindow::filledRows() const
{
    QList<QPushButton*> rows =
        roomListOf(get())->findChild<QWidget*>("widgetList")->findChildren<QPushButton*>();
    rows.removeIf(
        [](const QPushButton* row) { return row->isHidden() || row->text().startsWith('\n'); });
    std::sort(rows.begin(), rows.end(),
              [](const QPushButton* a, const QPushButton* b) { return a->y() < b->y(); });
    return rows;
}

QStringList ClientWindow::rows() const
{
    QStringList texts;
    for (const QPushButton* row : filledRows())
        texts.append(row->text());
    return texts;
}

bool ClientWindow::clickWhenOffered(const std::function<QPushButton*()>& offered)
{
    QPushButton* button = nullptr;
    if (!waitIdle([&] { return (button = offered()) != nullptr; }))
        return false;
    button->click();
    return true;
}

bool ClientWindow::clickRow(const QString& title)
{
    return showIdle(roomListOf(get())) && clickWhenOffered([&]() -> QPushButton* {
               for (QPushButton* row : filledRows())
                   if (row->text().section('\n', 1, 1) == title && row->isEnabled())
                       return row;
               return nullptr;
           });
}
