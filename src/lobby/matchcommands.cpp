// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobby/matchcommands.h"

#include "lobby/lobbycore.h"
#include "lobbymessages.h"
#include "lobbyrequests.h"

void MatchCommands::send(QObject* asker, Command asked, uint room, uint hostId)
{
    ProtocolSocket* socket = core.socket();
    socket->whenIdle(asker, [=] {
        if (asked == Recruit && !core.router().canStartMatch()) {
            emit recruitRefused(asker);
            return;
        }
        requester = asker;
        command = asked;
        roomId = room;
        begin(asked, room, hostId);
    });
}

void MatchCommands::begin(Command asked, uint room, uint hostId)
{
    static const char* const replySlots[] = {
        SLOT(doRecvRecruitMatchReply()), SLOT(doRecvStartBattleReply()), SLOT(doRecvCancelReply()),
        SLOT(doRecvApplyReply()),        SLOT(doRecvCancelReply()),      SLOT(doRecvEndReply()),
        SLOT(doRecvDropReply()),
    };
    ProtocolSocket* socket = core.socket();
    socket->beginCommand(this, replySlots[asked], this, SIGNAL(commandState(bool)));
    switch (asked) {
    case Recruit:
        socket->write(RecruitMatchRequest{room});
        break;
    case StartBattle:
        socket->write(StartBattleRequest{room});
        break;
    case CancelRecruit:
        socket->write(CancelRecruitRequest{room});
        break;
    case Apply:
        socket->write(ApplyMatchRequest{room, hostId});
        break;
    case CancelApply:
        socket->write(CancelApplyRequest{room});
        break;
    case EndBattle:
        socket->write(EndBattleRequest{room});
        break;
    case DropBattle:
        socket->write(DropBattleRequest{room});
        break;
    }
    socket->sendCommand();
}

bool MatchCommands::isConnectionIdle() const
{
    return !core.socket()->isCommandOpen();
}

void MatchCommands::readResult()
{
    ProtocolSocket* socket = core.socket();
    socket->prepareRecvReply(true);
    const quint32 result = socket->read<ResultReply>().result;
    socket->endCommand();
    emit replied(requester, command, roomId, result);
}
