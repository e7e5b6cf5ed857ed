// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>

class LobbyCore;

// The match requests: each goes out once the connection is free, as the one command in flight,
// and holds the whole window until its reply has been read. The reply is read here whatever
// became of the window that asked: the router may delete a match dialog on a room event that
// overtook the reply, and no other command may start before that reply is read.
class MatchCommands : public QObject
{
    Q_OBJECT

  public:
    enum Command {
        Recruit,
        StartBattle,
        CancelRecruit,
        Apply,
        CancelApply,
        EndBattle,
        DropBattle,
    };
    Q_ENUM(Command)

    explicit MatchCommands(LobbyCore& core) : core(core) {}

    // Sends command for roomId unless requester has gone by the time the connection is free; a
    // second call for the same requester meanwhile replaces the first. hostId is the recruit's
    // host, for Apply.
    void send(QObject* requester, Command command, uint roomId, uint hostId = 0);
    bool isConnectionIdle() const;

  signals:
    // False while a match command is out, true once its reply has been read.
    void commandState(bool idle);
    // The one result of the reply; requester is null when it has gone meanwhile.
    void replied(QObject* requester, MatchCommands::Command command, uint roomId, quint32 result);
    // A recruit asked for while this client takes part in a match already; nothing was sent.
    void recruitRefused(QObject* requester);

  private slots:
    void doRecvRecruitMatchReply() { readResult(); }
    void doRecvStartBattleReply() { readResult(); }
    void doRecvCancelReply() { readResult(); }
    void doRecvApplyReply() { readResult(); }
    void doRecvEndReply() { readResult(); }
    void doRecvDropReply() { readResult(); }

  private:
    void begin(Command command, uint roomId, uint hostId);
    void readResult();

    LobbyCore& core;
    QPointer<QObject> requester;
    Command command = Recruit;
    uint roomId = 0;
};
