// The lobby core's commands without windows: the request each sends once the connection is free,
// and what the core reports of its reply.

#include "support/connectedlobby.h"

#include "lobby/lobbycore.h"

#include <memory>

namespace
{
constexpr quint32 room = 4;
constexpr quint32 hanako = 5;
using M = MatchCommands;

// The core past the hello, the scripted server on the other end, and what the core reported.
struct CoreLobby {
    TestEnvironment env;
    FakeLobbyServer server;
    LobbyCore core;
    QStringList reported;

    bool open()
    {
        QObject::connect(&core.matches(), &M::commandState, &core,
                         [this](bool idle) { reported << (idle ? "idle" : "busy"); });
        QObject::connect(&core.matches(), &M::replied, &core,
                         [this](QObject* asker, M::Command command, uint roomId, quint32 result) {
                             reported << QString("%1 %2 %3 %4")
                                             .arg(asker != nullptr)
                                             .arg(command)
                                             .arg(roomId)
                                             .arg(result);
                         });
        server.exportAddress();
        QSignalSpy connected(&core, &LobbyCore::connected);
        core.start();
        if (!server.expect(clientHello()))
            return false;
        server.send(serverHello(0));
        return connected.wait(5000);
    }
};

enum Asker { Stays, GoesWhileOut, GoesWhileWaiting };

struct Case {
    const char* name;
    M::Command command;
    QByteArray sent;
    quint32 result = 0;
    Asker asker = Stays;
};

const Case cases[] = {
    {"recruit refused", M::Recruit, frameBytes(RecruitMatchRequest{room}), 1},
    {"start", M::StartBattle, frameBytes(StartBattleRequest{room})},
    {"recruit cancel refused", M::CancelRecruit, frameBytes(CancelRecruitRequest{room}), 2},
    {"application refused", M::Apply, frameBytes(ApplyMatchRequest{room, hanako}), 7},
    {"withdrawal", M::CancelApply, frameBytes(CancelApplyRequest{room})},
    {"battle's end", M::EndBattle, frameBytes(EndBattleRequest{room})},
    {"battle left", M::DropBattle, frameBytes(DropBattleRequest{room}), 1},
    // The router deleted the dialog on an event that overtook the reply: the reply is still read.
    {"asker gone while out", M::Apply, frameBytes(ApplyMatchRequest{room, hanako}), 0,
     GoesWhileOut},
    {"asker gone before the connection was free", M::CancelApply, {}, 0, GoesWhileWaiting},
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

    // Each request waits while another command is out, here the lookup of the own name.
    void commands()
    {
        QFETCH(int, index);
        const Case& c = cases[index];
        CoreLobby lobby;
        QVERIFY2(lobby.open(), qPrintable(lobby.server.failure()));
        lobby.core.requestOwnName();
        EXPECT_CLIENT_BYTES(lobby.server, getNameRequest(ownUserId));
        auto asker = std::make_unique<QObject>();
        lobby.core.matches().send(asker.get(), c.command, room, hanako);
        QVERIFY2(lobby.server.nothingMoreFrom(&lobby.core), qPrintable(lobby.server.failure()));
        if (c.asker == GoesWhileWaiting)
            asker.reset();
        QSignalSpy named(&lobby.core, &LobbyCore::named);
        lobby.server.send(nameReply(0, "たろう"));
        // What waited on the connection runs in the turn after the lookup's end.
        QVERIFY(named.wait());
        QCoreApplication::processEvents();
        QStringList reported;
        if (!c.sent.isEmpty()) {
            EXPECT_CLIENT_BYTES(lobby.server, c.sent);
            if (c.asker == GoesWhileOut)
                asker.reset();
            lobby.server.send(frameBytes(ResultReply{c.result}));
            reported = QStringList{
                "busy", QString("%1 %2 4 %3").arg(c.asker == Stays).arg(c.command).arg(c.result),
                "idle"};
        }
        QTRY_COMPARE(lobby.reported, reported);
        QVERIFY(!lobby.core.socket()->isCommandOpen());
        QVERIFY2(lobby.server.nothingMoreFrom(&lobby.core), qPrintable(lobby.server.failure()));
    }
};

QTEST_MAIN(LobbyCommandsTest)
#include "tst_lobbycommands.moc"
