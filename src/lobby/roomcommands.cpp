// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobby/roomcommands.h"

#include "app/globals.h"
#include "lobby/lobbycore.h"
#include "lobbyrequests.h"

void RoomCommands::beginRoomCommand(const char* replySlot)
{
    core.socket()->beginCommand(this, replySlot, this, SIGNAL(commandState(bool)));
}

quint32 RoomCommands::readResult()
{
    ProtocolSocket* socket = core.socket();
    socket->prepareRecvReply(true);
    const quint32 result = socket->read<ResultReply>().result;
    socket->endCommand();
    return result;
}

void RoomCommands::requestRoomCount()
{
    beginRoomCommand(SLOT(doRecvCountReply()));
    core.socket()->write(GetCountRequest{});
    core.socket()->sendCommand();
}

void RoomCommands::beginWalk(uint roomId)
{
    core.socket()->beginCommand(this, SLOT(doRecvWalkReply()), this, SIGNAL(walkState(bool)));
    core.socket()->write(GetRoomInfoRequest{roomId});
    core.socket()->sendCommand();
}

void RoomCommands::doRecvWalkReply()
{
    ProtocolSocket* socket = core.socket();
    socket->prepareRecvReply(true);
    const auto info = socket->read<RoomInfoReply>();
    socket->releaseRecvBuffer();
    emit walkInfoReplied(info);
}

void RoomCommands::continueWalk(uint roomId)
{
    ProtocolSocket* socket = core.socket();
    socket->beginMessage();
    socket->write(GetRoomInfoRequest{roomId});
    socket->sendMessage();
}

void RoomCommands::endWalk()
{
    core.socket()->endCommand();
}

void RoomCommands::enterRoom(uint roomId, const QString& password)
{
    askedRoom = roomId;
    pendingMembers = 0;
    enterUserIds = std::make_unique<QVector<uint>>();
    beginRoomCommand(SLOT(doRecvEnterReply()));
    core.socket()->write(EnterRoomRequest{roomId, password});
    core.socket()->sendCommand();
}

// The answer is one packet with the result and the member count, then one packet per member;
// they may arrive over several reads, so the slot takes what is queued and waits for the rest.
void RoomCommands::doRecvEnterReply()
{
    ProtocolSocket* socket = core.socket();
    while (socket->prepareRecvReply(false)) {
        if (pendingMembers == 0) {
            const auto reply = socket->read<EnterRoomReply>();
            pendingMembers = reply.memberCount;
            if (reply.result != 0) {
                socket->endCommand();
                enterUserIds.reset();
                pendingMembers = 0;
                emit entryRefused(reply.result);
                return;
            }
        } else {
            enterUserIds->append(socket->read<ResultReply>().result);
            --pendingMembers;
        }
        if (pendingMembers > 0) {
            socket->releaseRecvBuffer();
            continue;
        }
        socket->endCommand();
        core.addRoomRequest(askedRoom, enterUserIds.release());
        return;
    }
}

void RoomCommands::createRoom(const QString& title, const QString& password, quint32 capacity,
                              quint32 gameId)
{
    core.socket()->beginCommand(this, SLOT(doRecvCreateReply()), this, SIGNAL(createState(bool)));
    core.socket()->write(CreateRoomRequest{title, password, capacity, gameId});
    core.socket()->sendCommand();
}

void RoomCommands::doRecvCreateReply()
{
    emit roomCreated(readResult());
}

// The room's buttons stay enabled while the room list walks; their requests wait for it.
void RoomCommands::leaveRoom(QObject* asker, uint roomId)
{
    core.socket()->whenIdle(asker, [this, roomId] {
        askedRoom = roomId;
        beginRoomCommand(SLOT(doRecvLeaveReply()));
        core.socket()->write(LeaveRoomRequest{roomId});
        core.socket()->sendCommand();
    });
}

void RoomCommands::doRecvLeaveReply()
{
    const quint32 result = readResult();
    emit leaveReplied(askedRoom, result);
}

void RoomCommands::requestRoomInfo(uint roomId)
{
    askedRoom = roomId;
    beginRoomCommand(SLOT(doRecvGetInfoReply()));
    core.socket()->write(GetRoomInfoRequest{roomId});
    core.socket()->sendCommand();
}

void RoomCommands::doRecvGetInfoReply()
{
    ProtocolSocket* socket = core.socket();
    socket->prepareRecvReply(true);
    // The flags do not matter here: a member needs no password any more.
    const auto info = socket->read<RoomInfoReply>();
    if (!info.exists())
        fatalError("なぜかルーム情報を取得できなかった");
    socket->endCommand();
    emit roomInfoReplied(askedRoom, info);
}

void RoomCommands::requestMemberName(uint roomId, uint userId)
{
    askedRoom = roomId;
    beginRoomCommand(SLOT(doRecvGetNameReply()));
    core.socket()->write(GetNameRequest{userId});
    core.socket()->sendCommand();
}

void RoomCommands::doRecvGetNameReply()
{
    ProtocolSocket* socket = core.socket();
    socket->prepareRecvReply(true);
    const auto reply = socket->read<NameReply>();
    socket->endCommand();
    emit memberNameReplied(askedRoom, reply.result, reply.name);
}

void RoomCommands::speak(uint roomId, const QString& text)
{
    ProtocolSocket* socket = core.socket();
    socket->beginMessage();
    socket->write(SpeakRequest{roomId, text});
    socket->sendMessage();
}
