#include "support/lobbywindow.h"

#include "app/globals.h"
#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "support/lobbyframes.h"
#include "support/windowtabs.h"
#include "support/wire.h"

#include <QApplication>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace
{
// The list is nobody's child until its tab is added; it is found among all widgets.
ChatRoomListForm* listBeforeItsTab()
{
    const auto widgets = QApplication::allWidgets();
    for (QWidget* widget : widgets) {
        auto* list = qobject_cast<ChatRoomListForm*>(widget);
        if (list && !list->parent())
            return list;
    }
    return nullptr;
}
} // namespace

LobbyWindow::LobbyWindow(const QString& password)
{
    userSettings->setValue("account/id", "player1");
    userSettings->setValue("account/password", password);
    server.exportAddress();
    window = std::make_unique<MainWindow>();
    mainWindow = window.get();
    window->show();
}

LobbyWindow::~LobbyWindow()
{
    window.reset();
    mainWindow = nullptr;
}

bool LobbyWindow::helloPassed()
{
    if (!server.expect(clientHello()))
        return false;
    server.send(serverHello(0));
    return true;
}

bool LobbyWindow::named(const QString& name)
{
    if (!helloPassed() || !server.expect(authenticateRequest("player1", "pass word")))
        return false;
    server.send(authenticateReply(0, ownId, connectionCount, "本日のお知らせ"));
    if (!server.expect(getNameRequest(ownId)))
        return false;
    server.send(nameReply(0, name));
    return server.expect(getCountRequest());
}

bool LobbyWindow::listShown(quint32 roomCount)
{
    ChatRoomListForm* list = listBeforeItsTab();
    if (!list)
        return false;
    // Ticks come from tick() alone: a timer that never fires in a test still keeps the chain.
    list->findChild<QTimer*>("refreshTimer")->setInterval(24 * 3600 * 1000);
    server.send(countReply(roomCount));
    return QTest::qWaitFor([this] { return roomList() && window->isEnabled(); }, 5000);
}

ChatRoomForm* LobbyWindow::openRoom(quint32 roomId, const RoomInfo& info,
                                    const QList<RoomMember>& members)
{
    auto* userIds = new QVector<uint>;
    for (const RoomMember& member : members)
        userIds->append(member.userId);
    window->addRoomRequest(roomId, userIds);
    return serveRoom(roomId, info, members);
}

ChatRoomForm* LobbyWindow::serveRoom(quint32 roomId, const RoomInfo& info,
                                     const QList<RoomMember>& members)
{
    if (!server.expect(getRoomInfoRequest(roomId)))
        return nullptr;
    server.send(roomInfoReply(info));
    for (const RoomMember& member : members) {
        if (!server.expect(getNameRequest(member.userId)))
            return nullptr;
        server.send(nameReply(member.status, member.name));
    }
    const bool shown =
        QTest::qWaitFor([this, roomId] { return room(roomId) && window->isEnabled(); }, 5000);
    return shown ? room(roomId) : nullptr;
}

ChatRoomForm* LobbyWindow::room(quint32 roomId) const
{
    return roomTabOf(window.get(), roomId);
}

ChatRoomListForm* LobbyWindow::roomList() const
{
    return roomListOf(window.get());
}

QTabWidget* LobbyWindow::tabs() const
{
    return tabsOf(window.get());
}

ProtocolSocket* LobbyWindow::socket() const
{
    return window->findChild<ProtocolSocket*>();
}

void LobbyWindow::tick() const
{
    QMetaObject::invokeMethod(roomList(), "doUpdate");
}
