// SPDX-License-Identifier: GPL-3.0-or-later
#include "connectionrelay.h"

#include "fuzzapplication.h"

#include "protocol/protocolsocket.h"

#include <QTcpSocket>

ConnectionRelay::ConnectionRelay(FuzzApplication& app, ProtocolSocket* client, QTcpSocket* socket)
    : app(app), client(client)
{
    socket->disconnect(client);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        pass("doError", Q_ARG(QAbstractSocket::SocketError, error));
    });
    connect(socket, &QTcpSocket::disconnected, this, [this] { pass("doDisconnected"); });
    connect(socket, &QTcpSocket::connected, this, [this] { pass("doConnected"); });
    connect(socket, &QTcpSocket::readyRead, this, [this] { pass("doReadyRead"); });
    connect(socket, &QTcpSocket::bytesWritten, this,
            [this](qint64 bytes) { pass("doBytesWritten", Q_ARG(qint64, bytes)); });
}

template <class... Arguments> void ConnectionRelay::pass(const char* slot, Arguments... arguments)
{
    if (app.clientExit())
        return;
    try {
        QMetaObject::invokeMethod(client, slot, Qt::DirectConnection, arguments...);
    } catch (const ClientExit& exit) {
        app.clientEnded(exit);
    }
}
