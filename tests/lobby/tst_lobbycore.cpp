// SPDX-License-Identifier: GPL-3.0-or-later
// The lobby core without windows. The room-event router's rules: scripted events go in, and what
// the rooms and the match windows were told comes out as one list of effects. The core's commands:
// when a request goes out, how its reply is read and what the core reports of it. The account
// requests, the walk and the entry are checked through their windows (tst_settingsdialogs,
// tst_rooms), which show all the core does with them.

#include "support/childscenario.h"
#include "support/connectedlobby.h"
#include "support/dialogtesting.h"
#include "support/modalanswer.h"

#include "app/globals.h"
#include "lobby/lobbycore.h"
#include "lobby/lobbyroom.h"
#include "lobby/recruitment.h"
#include "lobby/roomeventrouter.h"
#include "lobbywire.h"

#include <QAction>
#include <QMetaEnum>

#include <memory>

namespace
{
constexpr uint own = 7;
constexpr uint hanako = 5;
constexpr uint jiro = 6;
constexpr uint room = 4;

QStringList effects;

void note(const QString& effect)
{
    effects << effect;
}

// A room that writes each line it takes into the effects, "<kind> <ids>", and keeps the recruits
// as a tab does.
struct FakeRoom : LobbyRoom {
    bool loading = false;
    QVector<Recruitment> recruits;
    RoomEventRouter* router = nullptr;
    bool nested = false;

    template <class... Ids> bool take(const char* kind, Ids... ids)
    {
        QString line = kind;
        ((line += ' ' + QString::number(ids)), ...);
        if (!loading)
            note(line);
        return !loading;
    }
    Recruitment* recruitOf(uint hostId) const
    {
        const auto found =
            std::find_if(recruits.begin(), recruits.end(),
                         [hostId](const Recruitment& r) { return r.hostId == hostId; });
        return found == recruits.end() ? nullptr : const_cast<Recruitment*>(&*found);
    }
    bool isLoading() const override { return loading; }
    QString roomTitle() const override { return "title"; }
    uint roomGameId() const override { return 0; }
    QString userName(uint userId) const override { return QString("u%1").arg(userId); }
    bool isRecruitmentMember(uint hostId, uint userId) const override
    {
        const Recruitment* recruit = recruitOf(hostId);
        return recruit && (userId == hostId || recruit->applicants.contains(userId));
    }
    Recruitment& findRecruitment(uint hostId) override { return *recruitOf(hostId); }
    void setBattleEnabled(bool on) override { note(on ? "battle button on" : "battle button off"); }
    bool handleSpeak(uint userId, const QString& text) override
    {
        return take(qPrintable("speak " + text), userId);
    }
    // The first entrant named "nest" runs the router again from inside the handler, as the nested
    // event loop of a message box would.
    bool handleEnter(uint userId, const QString& name) override
    {
        if (name == "nest" && !std::exchange(nested, true)) {
            router->queue({EventSpeak, room, userId, 0, 0, 0, "meanwhile"});
            router->runRoomEvents();
        }
        return take("enter", userId);
    }
    bool handleLeave(uint userId) override { return take("leave", userId); }
    bool handleRecruitStart(uint hostId) override
    {
        if (!loading && !recruitOf(hostId))
            recruits.append(Recruitment{hostId, {}});
        return take("recruit", hostId);
    }
    bool handleRecruitCancel(uint hostId) override { return take("cancel", hostId); }
    bool handleApply(uint hostId, uint applicantId) override
    {
        if (Recruitment* recruit = recruitOf(hostId); recruit && !loading)
            recruit->applicants.append(applicantId);
        return take("apply", applicantId, hostId);
    }
    bool handleApplyCancel(uint hostId, uint applicantId) override
    {
        return take("withdraw", applicantId, hostId);
    }
    bool handleGameStart(uint hostId) override { return take("start", hostId); }
    bool handleGameEnd(uint hostId) override { return take("end", hostId); }
    bool handleGameLeave(uint hostId, uint leaverId) override
    {
        return take("quit", leaverId, hostId);
    }
};

// An offer, recruit, wait or battle window; a battle's answers depend on whether its command is
// out, as in the battle's window.
struct FakeView : OfferView, BattleView {
    static inline bool busy = false;
    QString name;
    explicit FakeView(const QString& name) : name(name) { note(name + " opened"); }
    ~FakeView() override { note(name + " closed"); }
    void setParticipantCount(uint count) override { note(name + " " + QString::number(count)); }
    void closeLater() override { delete this; }
    bool removeMember(uint userId) override
    {
        if (!busy)
            note(QString("%1 drops %2").arg(name).arg(userId));
        return !busy;
    }
    bool isIdle() const override { return !busy; }
};

struct FakeViews : MatchViews {
    MatchView* openRecruit(const LobbyRoom&, uint roomId, uint minPlayers, uint maxPlayers) override
    {
        return new FakeView(
            QString("recruit %1 %2-%3").arg(roomId).arg(minPlayers).arg(maxPlayers));
    }
    OfferView* openOffer(uint, uint hostId, const QString& hostName, uint maxPlayers) override
    {
        return new FakeView(QString("offer %1 %2 %3").arg(hostId).arg(hostName).arg(maxPlayers));
    }
    MatchView* openWait(uint, uint hostId, const QString&, uint maxPlayers, uint count) override
    {
        return new FakeView(QString("wait %1 %2/%3").arg(hostId).arg(count).arg(maxPlayers));
    }
    BattleView* openBattle(const LobbyRoom& room, uint, const Recruitment& recruitment,
                           uint minPlayers, const QString& hostAddress) override
    {
        QString players = room.userName(recruitment.hostId);
        for (uint applicant : recruitment.applicants)
            players += ' ' + room.userName(applicant);
        note(QString("battle %1 min %2 at '%3'")
                 .arg(players, QString::number(minPlayers), hostAddress));
        return new FakeView("battle");
    }
};

// Steps of a script beside the events: changes of the fakes' state. A release is marked in the
// effects, so that they show what waited for it.
enum Control : quint32 { Load = 100, Ready, Busy, Idle, Leave };

RoomEvent ev(quint32 kind, uint userId = 0, uint otherId = 0, uint value = 0,
             const QString& text = {}, uint roomId = room)
{
    return {kind, roomId, userId, otherId, value, 0, text};
}

// The router with room 4 open; each step runs the queue as a notification or a reply would.
struct Routing {
    FakeViews views;
    FakeRoom fakeRoom;
    RoomEventRouter router;

    Routing()
    {
        ownUserId = own;
        effects.clear();
        FakeView::busy = false;
        fakeRoom.router = &router;
        router.setMatchViews(&views);
        router.addRoom(room, &fakeRoom);
    }
    void run(const QList<RoomEvent>& steps)
    {
        for (const RoomEvent& step : steps) {
            if (step.eventKind < Load)
                router.queue(step);
            else if (step.eventKind == Leave)
                router.removeRoom(room);
            else if (step.eventKind == Load || step.eventKind == Ready)
                fakeRoom.loading = step.eventKind == Load;
            else
                FakeView::busy = step.eventKind == Busy;
            if (step.eventKind == Ready || step.eventKind == Idle)
                note("(released)");
            router.runRoomEvents();
        }
    }
};

const RoomEvent ownRecruit = ev(EventRecruitStart, own, 2, 4);
const RoomEvent hanakoRecruits = ev(EventRecruitStart, hanako, 2, 4);
const QStringList recruiting{"recruit 7", "battle button off", "recruit 4 2-4 opened"};

struct Case {
    const char* name;
    QList<RoomEvent> steps;
    QStringList effects;
    const char* fatal = nullptr;
};

const Case cases[] = {
    {"lines in order; other rooms and unknown kinds drop",
     {ev(EventSpeak, hanako, 0, 0, "hi"), ev(EventSpeak, hanako, 0, 0, "x", 8),
      ev(lastRoomEventKind + 1), ev(EventEnter, jiro), ev(EventLeave, jiro)},
     {"speak hi 5", "enter 6", "leave 6"}},
    // The nested run leaves the queue to the run in progress instead of handling its head twice.
    {"a nested run handles the head once",
     {ev(EventEnter, jiro, 0, 0, "nest")},
     {"enter 6", "speak meanwhile 6"}},
    {"a loading room holds the queue in arrival order",
     {ev(Load), ev(EventSpeak, hanako, 0, 0, "a"), ev(EventLeave, jiro), ev(Ready)},
     {"(released)", "speak a 5", "leave 6"}},
    {"no offer during the own match",
     {ownRecruit, hanakoRecruits},
     recruiting + QStringList{"recruit 5"}},
    {"another's recruit is offered once; the own recruit drops the offers",
     {hanakoRecruits, hanakoRecruits, ownRecruit},
     {"recruit 5", "offer 5 u5 4 opened", "recruit 5", "recruit 7", "battle button off",
      "offer 5 u5 4 closed", "recruit 4 2-4 opened"}},
    {"applications count on the host's window",
     {ownRecruit, ev(EventApply, hanako, own, 2), ev(EventApplyCancel, hanako, own, 1)},
     recruiting + QStringList{"apply 5 7", "recruit 4 2-4 2", "withdraw 5 7", "recruit 4 2-4 1"}},
    {"the own application taken turns the offer into the wait",
     {hanakoRecruits, ev(EventRecruitStart, jiro, 2, 3), ev(EventApply, own, hanako, 2),
      ev(EventApply, jiro, hanako, 3), ev(EventApplyCancel, own, hanako, 2)},
     {"recruit 5", "offer 5 u5 4 opened", "recruit 6", "offer 6 u6 3 opened", "apply 7 5",
      "wait 5 2/4 opened", "offer 5 u5 4 closed", "offer 6 u6 3 closed", "battle button off",
      "apply 6 5", "wait 5 2/4 3", "withdraw 7 5", "wait 5 2/4 closed", "battle button on"}},
    {"the host's game starts with the recruit's minimum",
     {ownRecruit, ev(EventApply, hanako, own, 2), ev(EventGameStart, own)},
     recruiting + QStringList{"apply 5 7", "recruit 4 2-4 2", "start 7", "recruit 4 2-4 closed",
                              "battle u7 u5 min 2 at ''", "battle opened"}},
    {"a guest's game starts at the host's address; a leave waits for the battle's command",
     {hanakoRecruits, ev(EventApply, own, hanako, 2), ev(EventGameStart, hanako, 0, 0, "addr"),
      ev(Busy), ev(EventGameLeave, jiro, hanako), ev(Idle)},
     {"recruit 5", "offer 5 u5 4 opened", "apply 7 5", "wait 5 2/4 opened", "offer 5 u5 4 closed",
      "battle button off", "start 5", "wait 5 2/4 closed", "battle u5 u7 min 4294967295 at 'addr'",
      "battle opened", "(released)", "battle drops 6", "quit 6 5"}},
    {"another's game closes its offer",
     {hanakoRecruits, ev(EventGameStart, hanako)},
     {"recruit 5", "offer 5 u5 4 opened", "start 5", "offer 5 u5 4 closed"}},
    {"the game's end waits for the battle's command",
     {ownRecruit, ev(EventGameStart, own), ev(Busy), ev(EventGameEnd, own), ev(Idle)},
     recruiting + QStringList{"start 7", "recruit 4 2-4 closed", "battle u7 min 2 at ''",
                              "battle opened", "(released)", "battle closed", "battle button on",
                              "end 7"}},
    {"the recruit's cancel ends it",
     {ownRecruit, ev(EventRecruitCancel, own)},
     recruiting + QStringList{"cancel 7", "recruit 4 2-4 closed", "battle button on"}},
    {"leaving the room ends its match and its events",
     {ownRecruit, ev(EventGameStart, own), ev(Leave), ev(EventSpeak, hanako, 0, 0, "gone")},
     recruiting + QStringList{"start 7", "recruit 4 2-4 closed", "battle u7 min 2 at ''",
                              "battle opened", "battle closed"}},
    // The local user's second match: the server and the client disagree.
    {"recruit twice", {ownRecruit, ownRecruit}, {}, "なぜか募集を複数回できてしまった"},
    {"battle twice",
     {ownRecruit, ev(EventGameStart, own), ev(EventGameStart, own)},
     {},
     "なぜか対戦中に再度対戦が指定された"},
};

int runRouterScenario(const QString& name)
{
    auto answers = answerEveryModalWindow();
    Routing routing;
    for (const Case& c : cases)
        if (name == c.name)
            routing.run(c.steps);
    return 99;
}

using M = MatchCommands;
using R = RoomCommands;

// The core past the hello, and what it reported.
struct CoreLobby : ConnectedCore {
    LobbyCore& core = client;
    QStringList reported;
    // A command's asker.
    std::unique_ptr<QAction> asker = std::make_unique<QAction>();

    bool open()
    {
        const auto idle = [this](bool on) { reported << (on ? "idle" : "busy"); };
        QObject::connect(&core.matches(), &M::commandState, &core, idle);
        QObject::connect(&core.rooms(), &R::commandState, &core, idle);
        QObject::connect(&core.matches(), &M::replied, &core,
                         [this](QObject* asker, M::Command command, uint roomId, quint32 result) {
                             reported
                                 << QString("%1 %2 %3 %4")
                                        .arg(asker ? "asker" : "nobody",
                                             QMetaEnum::fromType<M::Command>().valueToKey(command))
                                        .arg(roomId)
                                        .arg(result);
                         });
        QObject::connect(&core.rooms(), &R::leaveReplied, &core,
                         [this](uint roomId, quint32 result) {
                             reported << QString("left %1: %2").arg(roomId).arg(result);
                         });
        return Connected::open();
    }
};

// Each command is asked while the own name's lookup is out, so it waits for the connection; its
// asker may go meanwhile, or while the command is out.
enum Asked { Waiting, GoneWhileWaiting, GoneWhileOut };

// A match command, or the leave for -1.
struct CommandCase {
    const char* name;
    Asked asked;
    int command;
    QByteArray sent = {};
    QByteArray reply = {};
    // What the core reported, one signal after another.
    QString reported = {};
};

const CommandCase commandCases[] = {
    {"recruit refused", Waiting, M::Recruit, frameBytes(RecruitMatchRequest{room}),
     frameBytes(ResultReply{1}), "busy; asker Recruit 4 1; idle"},
    // The router deleted the dialog on an event that overtook the reply: the reply is still read.
    {"match asker gone while out", GoneWhileOut, M::Apply,
     frameBytes(ApplyMatchRequest{room, hanako}), frameBytes(ResultReply{0}),
     "busy; nobody Apply 4 0; idle"},
    {"match asker gone before the connection was free", GoneWhileWaiting, M::CancelApply},
    {"leave refused", Waiting, -1, frameBytes(LeaveRoomRequest{room}), frameBytes(ResultReply{1}),
     "busy; left 4: 1; idle"},
};
// A data row per case, tagged with its name.
template <class Case, size_t count> void rowPerCase(const Case (&all)[count])
{
    QTest::addColumn<int>("index");
    for (int i = 0; i < int(count); ++i)
        QTest::newRow(all[i].name) << i;
}
} // namespace

class LobbyCoreTest : public QObject
{
    Q_OBJECT

  private slots:
    void routes_data() { rowPerCase(cases); }

    void routes()
    {
        QFETCH(int, index);
        const Case& c = cases[index];
        if (c.fatal) {
            VERIFY_FATAL_EXIT(runScenario(c.name), c.fatal);
            return;
        }
        Routing routing;
        routing.run(c.steps);
        QCOMPARE(effects, c.effects);
    }

    // A flood longer than one run may take is handled to its end, in order, a slice per turn of
    // the event loop.
    void flood()
    {
        Routing routing;
        QStringList expected;
        for (int i = 0; i < 50000; ++i) {
            routing.router.queue(ev(EventSpeak, hanako, 0, 0, QString::number(i)));
            expected << QString("speak %1 5").arg(i);
        }
        routing.router.runRoomEvents();
        QVERIFY(effects.size() < expected.size());
        QTRY_COMPARE(effects.size(), expected.size());
        QCOMPARE(effects, expected);
    }

    void commands_data() { rowPerCase(commandCases); }

    void commands()
    {
        QFETCH(int, index);
        const CommandCase& c = commandCases[index];
        // A request sent while another is out is fatal: its box must end the run, not stall it.
        auto answers = answerEveryModalWindow();
        CoreLobby lobby;
        VERIFY_STEP(lobby, open());
        lobby.core.requestOwnName();
        if (c.command < 0)
            lobby.core.rooms().leaveRoom(lobby.asker.get(), room);
        else
            lobby.core.matches().send(lobby.asker.get(), M::Command(c.command), room, hanako);
        EXPECT_CLIENT_BYTES(lobby.server, getNameRequest(ownUserId));
        EXPECT_NOTHING_MORE(lobby);
        if (c.asked == GoneWhileWaiting)
            lobby.asker.reset();
        QSignalSpy named(&lobby.core, &LobbyCore::named);
        lobby.server.send(nameReply(0, "たろう"));
        // What waited on the connection runs in the turn after the lookup's end.
        QVERIFY(named.wait());
        QCoreApplication::processEvents();
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

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(LobbyCoreTest, runRouterScenario)
#include "tst_lobbycore.moc"
