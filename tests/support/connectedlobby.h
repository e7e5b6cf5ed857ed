// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/lobbycore.h"
#include "protocol/protocolsocket.h"
#include "support/fakelobbyserver.h"
#include "support/testenvironment.h"
#include "support/lobbyframes.h"

#include <QSignalSpy>
#include <QtTest>

// Fresh settings stores and a client past the hello, the scripted server on the other end: a bare
// socket, or the lobby core, which opens a socket of its own.
template <class Client> struct Connected {
    TestEnvironment env;
    FakeLobbyServer server;
    Client client{nullptr};

    bool open()
    {
        server.exportAddress();
        QSignalSpy connected(&client, &Client::connected);
        if constexpr (std::is_same_v<Client, LobbyCore>)
            client.start();
        else
            client.connectToServer();
        if (!server.expect(clientHello()))
            return false;
        server.send(serverHello(0));
        return connected.count() == 1 || connected.wait(5000);
    }
    QObject* root() { return &client; }
};

using ConnectedLobby = Connected<ProtocolSocket>;
using ConnectedCore = Connected<LobbyCore>;
