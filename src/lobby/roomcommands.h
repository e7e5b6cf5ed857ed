// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbymessages.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <memory>

class LobbyCore;

// The requests about rooms: the room list's count and walks, entering, creating and leaving a
// room, its information and its members' names, and the chat lines. Each command holds the whole
// window until its reply has been read, except the creation, which holds its own dialog, and a
// walk, which holds only the list's rows.
class RoomCommands : public QObject
{
    Q_OBJECT

  public:
    explicit RoomCommands(LobbyCore& core) : core(core) {}

    void requestRoomCount();
    // A walk is one command with a request per room, the next one sent once the previous reply
    // has been read, until endWalk.
    void beginWalk(uint roomId);
    void continueWalk(uint roomId);
    void endWalk();

    // An entry lets the core hand the room on as a room request; a refusal is reported.
    void enterRoom(uint roomId, const QString& password);
    void createRoom(const QString& title, const QString& password, quint32 capacity,
                    quint32 gameId);
    // Sent once the connection is free, unless asker has gone by then.
    void leaveRoom(QObject* asker, uint roomId);
    void requestRoomInfo(uint roomId);
    void requestMemberName(uint roomId, uint userId);
    // A message, not a command: the line comes back as a room event.
    void speak(uint roomId, const QString& text);

  signals:
    // False while a command that holds the window is out, true once its reply has been read.
    void commandState(bool idle);
    // The same for the creation's dialog, and for the rows of the room list during a walk.
    void createState(bool idle);
    void walkState(bool idle);
    void roomCountReplied(quint32 count);
    void walkInfoReplied(const RoomInfoReply& info);
    void entryRefused(quint32 result);
    // The new room's number, or noRoom.
    void roomCreated(quint32 roomId);
    void leaveReplied(uint roomId, quint32 result);
    void roomInfoReplied(uint roomId, const RoomInfoReply& info);
    void memberNameReplied(uint roomId, quint32 result, const QString& name);

  private slots:
    void doRecvCountReply() { emit roomCountReplied(readResult()); }
    void doRecvWalkReply();
    void doRecvEnterReply();
    void doRecvCreateReply();
    void doRecvLeaveReply();
    void doRecvGetInfoReply();
    void doRecvGetNameReply();

  private:
    void beginRoomCommand(const char* replySlot);
    quint32 readResult();

    LobbyCore& core;
    uint askedRoom = 0;
    quint32 pendingMembers = 0;
    std::unique_ptr<QVector<uint>> enterUserIds;
};
