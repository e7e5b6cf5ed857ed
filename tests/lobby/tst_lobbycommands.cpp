// SPDX-License-Identifier: GPL-3.0-or-later
// The lobby core's commands without windows: when a request goes out, how its reply is read and
// what the core reports of it, and the account requests the core assembles. The plain requests a
// window sends byte for byte are checked in the widget tests.

#include "support/connectedlobby.h"
#include "support/modalanswerer.h"

#include "lobby/lobbycore.h"

#include <QAction>
#include <QMetaEnum>

#include <functional>
#include <memory>

namespace
{
constexpr quint32 room = 4;
constexpr quint32 hanako = 5;
using M = MatchCommands;
using R = RoomCommands;
using A = AccountCommands;

// The core past the hello, and what it reported.
struct CoreLobby : ConnectedCore {
    LobbyCore& core = client;
    QStringList reported;
    // A command's asker, and the holder of an account's command.
    std::unique_ptr<QAction> asker = std::make_unique<QAction>();

    template <class Sender, class... Args>
    void note(Sender* sender, void (Sender::*signal)(Args...), const char* format)
    {
        QObject::connect(sender, signal, &core, [this, format](Args... args) {
            QString line = format;
            ((line = line.arg(text(args))), ...);
            reported << line;
        });
    }
    template <class T> static QString text(const T& value)
    {
        if constexpr (std::is_same_v<T, M::Command>)
            return QMetaEnum::fromType<M::Command>().valueToKey(value);
        else if constexpr (std::is_same_v<T, QObject*>)
            return value ? "asker" : "nobody";
        else if constexpr (std::is_same_v<T, RoomInfoReply>)
            return QString("%1 %2/%3").arg(value.title).arg(value.userCount).arg(value.capacity);
        else if constexpr (std::is_same_v<T, QVector<uint>*>)
            return QString::number(std::unique_ptr<QVector<uint>>(value)->size());
        else
            return QVariant::fromValue(value).toString();
    }

    bool open()
    {
        note(&core.matches(), &M::commandState, "idle %1");
        note(&core.matches(), &M::replied, "%1 %2 %3 %4");
        note(&core.rooms(), &R::commandState, "idle %1");
        note(&core.rooms(), &R::walkState, "walk idle %1");
        note(&core.rooms(), &R::walkInfoReplied, "walked %1");
        note(&core.rooms(), &R::entryRefused, "entry refused %1");
        note(&core, &LobbyCore::roomRequested, "room %1 with %2");
        note(&core.rooms(), &R::leaveReplied, "left %1: %2");
        note(asker.get(), &QAction::enabledChanged, "holder enabled %1");
        note(&core.accounts(), &A::passwordReplied, "password %1");
        note(&core.accounts(), &A::keyRegistered, "key registered %1");
        return Connected::open();
    }
};

using Ask = std::function<void(LobbyCore&, QObject* asker)>;

Ask match(M::Command command)
{
    return [command](LobbyCore& core, QObject* asker) {
        core.matches().send(asker, command, room, hanako);
    };
}

const Ask leave = [](LobbyCore& core, QObject* asker) { core.rooms().leaveRoom(asker, room); };

// A walk that ends with its first room.
const Ask walkOne = [](LobbyCore& core, QObject*) {
    QObject::connect(&core.rooms(), &R::walkInfoReplied, &core,
                     [&core] { core.rooms().endWalk(); });
    core.rooms().beginWalk(room);
};

// A command that waits for the connection is asked while the own name's lookup is out, and its
// asker may go meanwhile, or while the command is out.
enum Asked { AtOnce, Waiting, GoneWhileWaiting, GoneWhileOut };

struct Case {
    const char* name;
    Asked asked;
    Ask ask;
    QByteArray sent = {};
    QByteArray reply = {};
    // What the core reported, one signal after another.
    QString reported = {};
};

QByteArray result(quint32 value)
{
    return frameBytes(ResultReply{value});
}

const Case cases[] = {
    {"recruit refused", Waiting, match(M::Recruit), frameBytes(RecruitMatchRequest{room}),
     result(1), "idle false; asker Recruit 4 1; idle true"},
    // The router deleted the dialog on an event that overtook the reply: the reply is still read.
    {"match asker gone while out", GoneWhileOut, match(M::Apply),
     frameBytes(ApplyMatchRequest{room, hanako}), result(0),
     "idle false; nobody Apply 4 0; idle true"},
    {"match asker gone before the connection was free", GoneWhileWaiting, match(M::CancelApply)},
    {"leave refused", Waiting, leave, frameBytes(LeaveRoomRequest{room}), result(1),
     "idle false; left 4: 1; idle true"},
    {"walk", AtOnce, walkOne, getRoomInfoRequest(room), roomInfoReply({"部屋", 3, 8}),
     "walk idle false; walked 部屋 3/8; walk idle true"},
    // The members come as replies of their own; every reply here comes a byte per read.
    {"entry", AtOnce, [](LobbyCore& core, QObject*) { core.rooms().enterRoom(room, "秘密"); },
     frameBytes(EnterRoomRequest{room, "秘密"}), enteredReply({7, hanako}),
     "idle false; idle true; room 4 with 2"},
    {"entry refused", AtOnce, [](LobbyCore& core, QObject*) { core.rooms().enterRoom(room, ""); },
     frameBytes(EnterRoomRequest{room, ""}), frameBytes(EnterRoomReply{3, 0}),
     "idle false; entry refused 3; idle true"},
    {"password change refused", AtOnce,
     [](LobbyCore& core, QObject* holder) { core.accounts().setPassword(holder, "old", "new"); },
     frameBytes(SetPasswordRequest{"old", "new"}), result(1),
     "holder enabled false; password 1; holder enabled true"},
    {"key registration", AtOnce,
     [](LobbyCore& core, QObject* holder) { core.accounts().registerKey(holder, "7F3A"); },
     frameBytes(RegisterKeyRequest{"7F3A"}), result(0),
     "holder enabled false; key registered 0; holder enabled true"},
    {"global message", AtOnce,
     [](LobbyCore& core, QObject*) { core.accounts().sendGlobalMessage("お知らせ"); },
     frameBytes(GlobalMessageRequest{"お知らせ"})},
};
} // namespace

class LobbyCommandsTest : public QObject
{
    Q_OBJECT

  private slots:
    void commands_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(cases)); ++i)
            QTest::newRow(cases[i].name) << i;
    }

    void commands()
    {
        QFETCH(int, index);
        const Case& c = cases[index];
        // A request sent while another is out is fatal: its box must end the run, not stall it.
        auto answers = answerEveryModalWindow();
        CoreLobby lobby;
        VERIFY_STEP(lobby, open());
        if (c.asked != AtOnce) {
            lobby.core.requestOwnName();
            c.ask(lobby.core, lobby.asker.get());
            EXPECT_CLIENT_BYTES(lobby.server, getNameRequest(ownUserId));
            EXPECT_NOTHING_MORE(lobby);
            if (c.asked == GoneWhileWaiting)
                lobby.asker.reset();
            QSignalSpy named(&lobby.core, &LobbyCore::named);
            lobby.server.send(nameReply(0, "たろう"));
            // What waited on the connection runs in the turn after the lookup's end.
            QVERIFY(named.wait());
            QCoreApplication::processEvents();
        } else {
            c.ask(lobby.core, lobby.asker.get());
        }
        if (!c.sent.isEmpty())
            EXPECT_CLIENT_BYTES(lobby.server, c.sent);
        if (c.asked == GoneWhileOut)
            lobby.asker.reset();
        lobby.server.sendSplit(c.reply);
        QTRY_COMPARE(lobby.reported.join("; "), c.reported);
        QVERIFY(!lobby.core.socket()->isCommandOpen());
        EXPECT_NOTHING_MORE(lobby);
    }
};

QTEST_MAIN(LobbyCommandsTest)
#include "tst_lobbycommands.moc"
