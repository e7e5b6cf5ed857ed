// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobby/lobbycore.h"

#include "app/globals.h"
#include "lobbymessages.h"
#include "lobbyrequests.h"

#include <QSettings>

LobbyCore::LobbyCore(QObject* parent) : QObject(parent) {}

void LobbyCore::start()
{
    connection = new ProtocolSocket(this);
    connect(connection, &ProtocolSocket::close, this, &LobbyCore::closed);
    connect(connection, &ProtocolSocket::connected, this, &LobbyCore::connected,
            Qt::QueuedConnection);
    connect(connection, &ProtocolSocket::recvNotify, this, &LobbyCore::doRecvNotify,
            Qt::QueuedConnection);
    // An event held while any command was out is retried once it has ended.
    connect(connection, &ProtocolSocket::commandEnded, &events, &RoomEventRouter::runRoomEvents,
            Qt::QueuedConnection);
    connection->connectToServer();
}

void LobbyCore::beginLoginCommand(const char* replySlot)
{
    connection->beginCommand(this, replySlot, this, SIGNAL(loginCommandState(bool)));
}

void LobbyCore::login()
{
    beginLoginCommand(SLOT(doRecvAuthenticateReply()));
    connection->write(AuthenticateRequest{userSettings->value("account/id", "").toString(),
                                          userSettings->value("account/password", "").toString()});
    connection->sendCommand();
}

void LobbyCore::requestOwnName()
{
    beginLoginCommand(SLOT(doRecvOwnNameReply()));
    connection->write(GetNameRequest{ownUserId});
    connection->sendCommand();
}

void LobbyCore::doRecvAuthenticateReply()
{
    connection->prepareRecvReply(true);
    const auto reply = connection->read<LoginReply>();
    ownUserId = reply.userId;
    connection->endCommand();

    if (reply.result != 0) {
        emit loginRefused();
        return;
    }
    qDebug("[LobbyCore] logged in");
    emit systemMessageChanged(reply.message);
    connections = reply.connectionCount;
    requestOwnName();
}

void LobbyCore::doRecvOwnNameReply()
{
    connection->prepareRecvReply(true);
    const auto reply = connection->read<NameReply>();
    setOwnName(reply.name);
    connection->endCommand();

    if (reply.result != 0)
        fatalError("なぜか自分の名前が取得できなかった");
    qDebug("[LobbyCore] own name read");
    if (reply.name.isEmpty())
        emit nameMissing();
    else
        emit named();
}

void LobbyCore::setOwnName(const QString& name)
{
    ownNameText = name;
    emit ownNameChanged(name);
}

void LobbyCore::addRoomRequest(uint roomId, QVector<uint>* userIds)
{
    QMetaObject::invokeMethod(
        this, [this, roomId, userIds] { emit roomRequested(roomId, userIds); },
        Qt::QueuedConnection);
}

void LobbyCore::doRecvNotify()
{
    while (connection->prepareRecvNotify(false)) {
        switch (connection->readUInt32()) {
        case NotifyConnectionCount:
            // Kept for the room list, which may not exist yet.
            connections = connection->read<ConnectionCountNotification>().count;
            emit connectionCountChanged(connections);
            break;
        case NotifySystemMessage:
            emit systemMessageChanged(connection->read<SystemMessageNotification>().message);
            break;
        case NotifyRoomEvent: {
            const auto fields = connection->read<RoomEventFields>();
            events.queue({fields.eventKind, fields.roomId, fields.userId, fields.otherId,
                          fields.value, fields.reserved, fields.text()});
            break;
        }
        default:
            break;
        }
        connection->releaseRecvBuffer();
    }
    events.runRoomEvents();
}
