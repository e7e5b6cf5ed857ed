// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the client target's seeds into a folder: valid transcripts of what the lobby sends in a
// login, a walk of the room list, a room entry, a room session, a recruit, an application, a
// game start and a battle, each behind the option byte that brings the client to the
// transcript's stage (see fuzz_client.cpp).
// Usage: fuzz_client_seeds FOLDER

#include "clientsession.h"
#include "fuzzlobby.h"

#include "support/lobbyframes.h"

#include <QDir>
#include <QFile>

#include <cstdio>

namespace
{
constexpr quint32 own = FuzzLobby::ownId;
constexpr quint32 other = FuzzLobby::otherId;
constexpr quint32 third = 79;
constexpr quint32 room = FuzzLobby::roomId;

char options(Stage stage, FuzzLobby::Pace pace)
{
    return char(int(stage) | int(pace) << 3);
}

QByteArray event(quint32 kind, quint32 userId, quint32 otherId = 0, quint32 value = 0,
                 const QString& text = QString())
{
    return roomEventFrame(room, Event{kind, userId, otherId, text, value});
}

QByteArray countReply(quint32 rooms)
{
    return frameBytes(ResultReply{rooms});
}

QByteArray accepted()
{
    return frameBytes(ResultReply{0});
}

QByteArray roomInfo(quint32 flags, const QString& title, quint32 gameId, quint32 next)
{
    RoomInfo info;
    info.title = title;
    info.flags = flags;
    info.gameId = gameId;
    info.nextRoomId = next;
    return roomInfoReply(info);
}

QByteArray login()
{
    return serverHello(0) + authenticateReply(0, own, 12, "本日のお知らせ") +
           nameReply(0, "たろう") + countReply(2) + frameBytes(ConnectionCountNotification{13}) +
           frameBytes(SystemMessageNotification{"メンテナンスのお知らせ"});
}

// Refused once, the account is given again; then the name is missing once and set.
QByteArray secondLogin()
{
    return serverHello(0) + authenticateReply(1, 0, 0, "") +
           authenticateReply(0, own, 12, "本日のお知らせ") + nameReply(0, "") +
           nameReply(0, "たろう") + countReply(0);
}

QByteArray walk()
{
    return roomInfo(0, "雑談", chatOnlyGameId, 1) + roomInfo(1, "鍵つき", 0, 2) +
           roomInfo(0, "対戦", 0, noRoom);
}

QByteArray entry()
{
    return enteredReply({own, other}) + roomInfo(0, "対戦部屋", 0, noRoom) +
           nameReply(0, "たろう") + nameReply(0, "じろう") + event(EventSpeak, other, 0, 0, "やあ");
}

QByteArray roomSession()
{
    return event(EventSpeak, other, 0, 0, "こんにちは") +
           event(EventEnter, third, 0, 0, "さぶろう") + event(EventSpeak, third, 0, 0, "よろしく") +
           event(EventRecruitStart, third, 2, 4) + event(EventApply, other, third, 2) +
           event(EventApplyCancel, other, third, 1) + event(EventRecruitCancel, third) +
           event(EventLeave, other) + frameBytes(ConnectionCountNotification{11});
}

QByteArray recruit()
{
    return accepted() + event(EventRecruitStart, own, 2, 4) + event(EventApply, other, own, 2) +
           event(EventApplyCancel, other, own, 1) + event(EventRecruitCancel, own);
}

// Taken as a guest, a third user comes and goes, the game starts and the battle dialog drops out.
QByteArray application()
{
    return accepted() + event(EventApply, own, other, 2) + event(EventApply, third, other, 3) +
           event(EventApplyCancel, third, other, 2) +
           event(EventGameStart, other, 0, 0, "127.0.0.1") + accepted() +
           event(EventGameEnd, other);
}

// As the host: the game starts and the battle dialog ends it.
QByteArray start()
{
    return accepted() + event(EventGameStart, own) + accepted() +
           event(EventGameLeave, other, own) + event(EventGameEnd, own);
}

QByteArray battle()
{
    return accepted() + event(EventGameLeave, third, other) + event(EventGameEnd, other) +
           event(EventSpeak, other, 0, 0, "おつかれ");
}

struct Seed {
    const char* name;
    QByteArray bytes;
};

QList<Seed> seeds()
{
    using Pace = FuzzLobby::Pace;
    return {
        {"login", options(Stage::Hello, Pace::Frames) + login()},
        {"login-again", options(Stage::Hello, Pace::Frames) + secondLogin()},
        {"walk", options(Stage::RoomWalk, Pace::Frames) + walk()},
        {"entry", options(Stage::RoomEntry, Pace::Frames) + entry()},
        {"entry-chunks", options(Stage::RoomEntry, Pace::Chunks) + entry()},
        {"room", options(Stage::InRoom, Pace::Whole) + roomSession()},
        {"room-bytes", options(Stage::InRoom, Pace::Bytes) + roomSession()},
        {"recruit", options(Stage::RecruitAsked, Pace::Frames) + recruit()},
        {"application", options(Stage::ApplyAsked, Pace::Frames) + application()},
        {"start", options(Stage::StartAsked, Pace::Frames) + start()},
        {"battle", options(Stage::InBattle, Pace::Frames) + battle()},
        {"battle-whole", options(Stage::InBattle, Pace::Whole) + battle()},
    };
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_client_seeds FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    for (const Seed& seed : seeds()) {
        QFile file(folder.filePath(seed.name));
        if (!file.open(QIODevice::WriteOnly) || file.write(seed.bytes) != seed.bytes.size()) {
            std::fprintf(stderr, "%s: cannot be written\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
