#pragma once

#include "mainwindow/mainwindow.h"
#include "support/fakelobbyserver.h"
#include "support/lobbyframes.h"
#include "support/testenvironment.h"

#include <memory>

class ChatRoomForm;
class ChatRoomListForm;
class QTabWidget;

// A room member as the server names it; a status other than 0 means an unknown user.
struct RoomMember {
    quint32 userId;
    QString name;
    quint32 status = 0;
};

// A main window started against the scripted lobby with an account stored. Once logged in, its
// room list refreshes only when the test calls tick(), so no walk interleaves with the script.
struct LobbyWindow {
    static constexpr quint32 ownId = 77;
    static constexpr quint32 connectionCount = 12;

    TestEnvironment env;
    FakeLobbyServer server;
    std::unique_ptr<MainWindow> window;

    explicit LobbyWindow(const QString& password = "pass word");
    ~LobbyWindow();

    bool helloPassed();
    // Hello, Authenticate and GetName with the given handle name, up to the GetCount request.
    bool named(const QString& name = "たろう");
    // The count reply and the room list shown as the window's tab.
    bool listShown(quint32 roomCount = 0);
    bool loggedIn(quint32 roomCount = 0) { return named() && listShown(roomCount); }

    // Hands a room to the window as an entry does and serves its information and member names;
    // the room's tab once it is shown, else null.
    ChatRoomForm* openRoom(quint32 roomId, const RoomInfo& info, const QList<RoomMember>& members);
    // The same once the window asks for a room it was handed.
    ChatRoomForm* serveRoom(quint32 roomId, const RoomInfo& info, const QList<RoomMember>& members);
    ChatRoomForm* room(quint32 roomId) const;

    ChatRoomListForm* roomList() const;
    QTabWidget* tabs() const;
    ProtocolSocket* socket() const;
    // One refresh tick of the room list.
    void tick() const;
};

#define VERIFY_STEP(run, step) QVERIFY2((run).step, qPrintable((run).server.failure()))

Q_DECLARE_METATYPE(RoomMember)

#define EXPECT_NOTHING_MORE_FROM(run)                                                              \
    QVERIFY2((run).server.nothingMoreFrom((run).window.get()), qPrintable((run).server.failure()))
