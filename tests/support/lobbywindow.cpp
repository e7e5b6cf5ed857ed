// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/lobbywindow.h"

#include "app/globals.h"

#include <QSettings>
#include <QTest>
#include <QTimer>

LobbyWindow::LobbyWindow(const QString& password)
{
    userSettings->setValue("account/id", "player1");
    userSettings->setValue("account/password", password);
    server.exportAddress();
    window = std::make_unique<MainWindow>();
    window->show();
}

bool LobbyWindow::named(const QString& name, quint32 result)
{
    if (!server.expect(clientHello()))
        return false;
    server.send(serverHello(0));
    if (!server.expect(authenticateRequest("player1", "pass word")))
        return false;
    server.send(authenticateReply(0, ownId, 12, "本日のお知らせ"));
    if (!server.expect(getNameRequest(ownId)))
        return false;
    server.send(nameReply(result, name));
    return server.expect(frameBytes(GetCountRequest{}));
}

bool LobbyWindow::listShown(quint32 roomCount)
{
    auto* list = window->findChild<ChatRoomListForm*>();
    if (!list)
        return false;
    // A timer that never fires in a test still keeps the refresh chain.
    list->findChild<QTimer*>("refreshTimer")->setInterval(24 * 3600 * 1000);
    server.send(frameBytes(ResultReply{roomCount}));
    return QTest::qWaitFor([this] { return roomList() && window->isEnabled(); }, 5000);
}

ChatRoomForm* LobbyWindow::openRoom(quint32 roomId, const RoomInfo& info,
                                    const QList<RoomMember>& members)
{
    auto* userIds = new QVector<uint>;
    for (const RoomMember& member : members)
        userIds->append(member.userId);
    window->lobby().addRoomRequest(roomId, userIds);
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
        server.send(nameReply(0, member.name));
    }
    const auto shown = [this, roomId] { return room(roomId) && window->isEnabled(); };
    return QTest::qWaitFor(shown, 5000) ? room(roomId) : nullptr;
}
