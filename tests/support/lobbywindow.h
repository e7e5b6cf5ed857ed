#pragma once

#include "mainwindow/mainwindow.h"
#include "support/fakelobbyserver.h"
#include "support/testenvironment.h"

#include <memory>

class ChatRoomListForm;
class QTabWidget;

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

    ChatRoomListForm* roomList() const;
    QTabWidget* tabs() const;
    ProtocolSocket* socket() const;
    // One refresh tick of the room list.
    void tick() const;
};

#define VERIFY_STEP(run, step) QVERIFY2((run).step, qPrintable((run).server.failure()))
