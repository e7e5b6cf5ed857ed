// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/globals.h"
#include "mainwindow/mainwindow.h"
#include "protocol/protocolsocket.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "support/modalanswer.h"
#include "support/windowtabs.h"

#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <functional>

// The client's main window in this test process, built as main() builds it and pointed at the
// lobby on this port of localhost, over TLS checked against the CAs of caFile. It is destroyed,
// never closed: closing ends the process, as it does in the program.
class ClientWindow
{
  public:
    ClientWindow(quint16 port, const QString& caFile)
    {
        qputenv("TILEPARLOR_LOBBY_HOST", "localhost");
        qputenv("TILEPARLOR_LOBBY_PORT", QByteArray::number(port));
        qputenv("TILEPARLOR_LOBBY_TLS", "1");
        qputenv("TILEPARLOR_LOBBY_CA", QFile::encodeName(caFile));
        window->show();
    }
    ~ClientWindow() { delete window; }

    MainWindow* const window = new MainWindow;

    // The room list once the login is over; it then refreshes every few tens of milliseconds
    // instead of every few seconds. Null if it did not come.
    ChatRoomListForm* waitForRoomList()
    {
        if (waitIdle([this] { return roomListOf(window); }, 30000))
            roomListOf(window)->findChild<QTimer*>("refreshTimer")->setInterval(20);
        return roomListOf(window);
    }
    // No command is out: a click that sends one now cannot meet another. The window is enabled
    // again only in a later turn of the event loop than the command's end, and disabled in a
    // later turn than its start.
    bool isIdle() const
    {
        const auto* socket = window->findChild<ProtocolSocket*>();
        return window->isEnabled() && socket && !socket->isCommandOpen();
    }
    // Clicks the button that offered returns, once it returns one and the window is idle.
    bool clickWhenOffered(const std::function<QPushButton*()>& offered)
    {
        QPushButton* button = nullptr;
        return waitIdle([&] { return (button = offered()) != nullptr; }) && (button->click(), true);
    }
    // Enters a room with a click on the room list's row that shows its title, once one does, and
    // returns the room's tab once it is shown, else null. Rows that are loading or hold no room
    // start with a line break.
    ChatRoomForm* enter(const QString& title, quint32 roomId)
    {
        tabsOf(window)->setCurrentWidget(roomListOf(window));
        const auto* list = roomListOf(window)->findChild<QWidget*>("widgetList");
        const bool clicked = clickWhenOffered([&]() -> QPushButton* {
            for (QPushButton* row : list->findChildren<QPushButton*>())
                if (!row->isHidden() && row->isEnabled() &&
                    row->text().section('\n', 1, 1) == title)
                    return row;
            return nullptr;
        });
        const auto tab = [&] { return roomTabOf(window, roomId); };
        return clicked && waitIdle(tab) ? tab() : nullptr;
    }

  private:
    bool waitIdle(const std::function<bool()>& condition, int timeoutMs = 15000) const
    {
        return QTest::qWaitFor([&] { return condition() && isIdle(); }, timeoutMs);
    }
};
