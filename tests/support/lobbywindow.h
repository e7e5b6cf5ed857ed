// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mainwindow/mainwindow.h"
#include "support/fakelobbyserver.h"
#include "support/lobbyframes.h"
#include "support/testenvironment.h"
#include "support/windowtabs.h"

#include <memory>

// A room member as the server names it.
struct RoomMember {
    quint32 userId;
    QString name;
};

// A main window started against the scripted lobby with an account stored. Once logged in, its
// room list refreshes only when the test calls tick(), so no walk interleaves with the script.
struct LobbyWindow {
    static constexpr quint32 ownId = 77;

    TestEnvironment env;
    FakeLobbyServer server;
    std::unique_ptr<MainWindow> window;

    explicit LobbyWindow(const QString& password = "pass word");

    // Hello, Authenticate (12 users connected) and GetName with this result, up to the GetCount
    // request.
    bool named(const QString& name = "たろう", quint32 result = 0);
    // The count reply and the room list shown as the window's tab.
    bool listShown(quint32 roomCount = 0);
    bool loggedIn(quint32 roomCount = 0) { return named() && listShown(roomCount); }

    // Hands a room to the window as an entry does and serves its information and member names;
    // serveRoom does the serving alone. The room's tab once it is shown, else null.
    ChatRoomForm* openRoom(quint32 roomId, const RoomInfo& info, const QList<RoomMember>& members);
    ChatRoomForm* serveRoom(quint32 roomId, const RoomInfo& info, const QList<RoomMember>& members);

    ChatRoomForm* room(quint32 roomId) const { return roomTabOf(window.get(), roomId); }
    ChatRoomListForm* roomList() const { return roomListOf(window.get()); }
    ProtocolSocket* socket() const { return window->findChild<ProtocolSocket*>(); }
    QObject* root() const { return window.get(); }
    // One refresh tick of the room list.
    void tick() const { QMetaObject::invokeMethod(roomList(), "doUpdate"); }
};
