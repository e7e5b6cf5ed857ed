// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/accountcommands.h"
#include "lobby/matchcommands.h"
#include "lobby/roomcommands.h"
#include "lobby/roomeventrouter.h"
#include "protocol/protocolsocket.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

// The client's side of the lobby without its windows: the connection, the login and the
// user's own name, the server's notifications, the router of room events, and every other
// command in flight, for matches, rooms and the account. The windows
// present what it reports and hand it the user's actions.
class LobbyCore : public QObject
{
    Q_OBJECT

  public:
    explicit LobbyCore(QObject* parent = nullptr);

    // Opens the connection; connected() follows, or closed().
    void start();
    ProtocolSocket* socket() const { return connection; }
    bool isConnectionIdle() const { return !connection->isCommandOpen(); }
    // Runs action once no command is out, unless context has gone by then.
    void whenIdle(QObject* context, const std::function<void()>& action)
    {
        connection->whenIdle(context, action);
    }
    RoomEventRouter& router() { return events; }
    MatchCommands& matches() { return matchCommands; }
    RoomCommands& rooms() { return roomCommands; }
    AccountCommands& accounts() { return accountCommands; }

    // Logs in with the stored account; loggedIn() or loginRefused() follows, and after a
    // login the own name is asked for.
    void login();
    void requestOwnName();

    QString ownName() const { return ownNameText; }
    void setOwnName(const QString& name);
    quint32 connectionCount() const { return connections; }
    // Takes the room's member list (heap-allocated) on to roomRequested.
    void addRoomRequest(uint roomId, QVector<uint>* userIds);

  signals:
    void connected();
    // False while a login command is out, true once its reply has been read.
    void loginCommandState(bool idle);
    void closed(ProtocolSocket::CloseReason reason);
    void loginRefused();
    // The server knows the user by name, or has none for the user yet.
    void named();
    void nameMissing();
    void ownNameChanged(const QString& name);
    void connectionCountChanged(quint32 count);
    void systemMessageChanged(const QString& text);
    // Queued, so that the room's tab is built after the command that asked for it has ended.
    void roomRequested(uint roomId, QVector<uint>* userIds);

  private slots:
    void doRecvAuthenticateReply();
    void doRecvOwnNameReply();
    void doRecvNotify();

  private:
    void beginLoginCommand(const char* replySlot);

    ProtocolSocket* connection = nullptr;
    RoomEventRouter events;
    MatchCommands matchCommands{*this};
    RoomCommands roomCommands{*this};
    AccountCommands accountCommands{*this};
    QString ownNameText;
    quint32 connections = 0;
};
