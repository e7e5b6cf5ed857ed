#pragma once

#include "lobby/lobbycore.h"
#include "protocol/protocolsocket.h"
#include "support/fakelobbyserver.h"
#include "support/testenvironment.h"
#include "support/lobbyframes.h"

#include <QSignalSpy>
#include <QtTest>

// Fresh settings stores and a client socket past the hello, the scripted server on the other end.
struct ConnectedLobby {
    TestEnvironment env;
    FakeLobbyServer server;
    ProtocolSocket socket{nullptr};

    bool open()
    {
        server.exportAddress();
        QSignalSpy connected(&socket, &ProtocolSocket::connected);
        socket.connectToServer();
        if (!server.expect(clientHello()))
            return false;
        server.send(serverHello(0));
        return connected.count() == 1 || connected.wait(5000);
    }
    QObject* root() { return &socket; }
};

// The same for the lobby core, which opens a socket of its own.
struct ConnectedCore {
    TestEnvironment env;
    FakeLobbyServer server;
    LobbyCore core;

    bool open()
    {
        server.exportAddress();
        QSignalSpy connected(&core, &LobbyCore::connected);
        core.start();
        if (!server.expect(clientHello()))
            return false;
        server.send(serverHello(0));
        return connected.wait(5000);
    }
    QObject* root() { return &core; }
};

#define OPEN_LOBBY(lobby) QVERIFY2((lobby).open(), qPrintable((lobby).server.failure()))
