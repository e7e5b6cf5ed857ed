// The room-event router's rules without windows: scripted events go in, and what the rooms and
// the match windows were told comes out as one list of effects.

#include "support/childscenario.h"
#include "support/dialogtesting.h"
#include "support/modalanswer.h"

#include "app/globals.h"
#include "lobby/lobbyroom.h"
#include "lobby/recruitment.h"
#include "lobby/roomeventrouter.h"
#include "lobbywire.h"

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

// A room that writes each line it takes into the effects and keeps the recruits as a tab does.
struct FakeRoom : LobbyRoom {
    bool loading = false;
    QVector<Recruitment> recruits;

    bool take(const QString& line)
    {
        if (!loading)
            note(line);
        return !loading;
    }
    Recruitment* recruitOf(uint hostId)
    {
        for (Recruitment& recruit : recruits) {
            if (recruit.hostId == hostId)
                return &recruit;
        }
        return nullptr;
    }
    bool isLoading() const override { return loading; }
    QString roomTitle() const override { return "title"; }
    uint roomGameId() const override { return 0; }
    QString userName(uint userId) const override { return QString("u%1").arg(userId); }
    bool isRecruitmentMember(uint hostId, uint userId) const override
    {
        const Recruitment* recruit = const_cast<FakeRoom*>(this)->recruitOf(hostId);
        return recruit && (userId == hostId || recruit->applicants.contains(userId));
    }
    Recruitment& findRecruitment(uint hostId) override { return *recruitOf(hostId); }
    void setBattleEnabled(bool on) override { note(on ? "battle button on" : "battle button off"); }
    bool handleSpeak(uint userId, const QString& text) override
    {
        return take(QString("%1 says %2").arg(userId).arg(text));
    }
    bool handleEnter(uint userId, const QString& name) override
    {
        return take(QString("%1 enters as %2").arg(userId).arg(name));
    }
    bool handleLeave(uint userId) override { return take(QString("%1 leaves").arg(userId)); }
    bool handleRecruitStart(uint hostId) override
    {
        if (!loading && !recruitOf(hostId))
            recruits.append(Recruitment{hostId, {}});
        return take(QString("%1 recruits").arg(hostId));
    }
    bool handleRecruitCancel(uint hostId) override
    {
        return take(QString("%1 cancels").arg(hostId));
    }
    bool handleApply(uint hostId, uint applicantId) override
    {
        if (Recruitment* recruit = recruitOf(hostId); recruit && !loading)
            recruit->applicants.append(applicantId);
        return take(QString("%1 applies to %2").arg(applicantId).arg(hostId));
    }
    bool handleApplyCancel(uint hostId, uint applicantId) override
    {
        return take(QString("%1 withdraws from %2").arg(applicantId).arg(hostId));
    }
    bool handleGameStart(uint hostId) override { return take(QString("%1 starts").arg(hostId)); }
    bool handleGameEnd(uint hostId) override { return take(QString("%1 ends").arg(hostId)); }
    bool handleGameLeave(uint hostId, uint leaverId) override
    {
        return take(QString("%1 leaves %2's game").arg(leaverId).arg(hostId));
    }
};

struct FakeView : OfferView {
    QString name;
    explicit FakeView(const QString& name) : name(name) { note(name + " opened"); }
    ~FakeView() override { note(name + " closed"); }
    void setParticipantCount(uint count) override
    {
        note(QString("%1 counts %2").arg(name).arg(count));
    }
    void closeLater() override { delete this; }
};

struct FakeBattle : BattleView {
    static inline bool idle = true;
    static inline bool dropping = true;
    FakeBattle(const QString& opened) { note(opened); }
    ~FakeBattle() override { note("battle closed"); }
    bool removeMember(uint userId) override
    {
        if (dropping)
            note(QString("battle drops %1").arg(userId));
        return dropping;
    }
    bool isIdle() const override { return idle; }
};

struct FakeViews : MatchViews {
    MatchView* openRecruit(const LobbyRoom&, uint roomId, uint minPlayers, uint maxPlayers) override
    {
        return new FakeView(
            QString("recruit %1 (%2-%3)").arg(roomId).arg(minPlayers).arg(maxPlayers));
    }
    OfferView* openOffer(uint, uint hostId, const QString& hostName, uint maxPlayers) override
    {
        return new FakeView(QString("offer %1 %2 (%3)").arg(hostId).arg(hostName).arg(maxPlayers));
    }
    MatchView* openWait(uint, uint hostId, const QString&, uint maxPlayers, uint count) override
    {
        return new FakeView(QString("wait %1 (%2/%3)").arg(hostId).arg(count).arg(maxPlayers));
    }
    BattleView* openBattle(const LobbyRoom& room, uint, const Recruitment& recruitment,
                           uint minPlayers, const QString& hostAddress) override
    {
        QStringList players{room.userName(recruitment.hostId)};
        for (uint applicant : recruitment.applicants)
            players << room.userName(applicant);
        return new FakeBattle(QString("battle of %1 (min %2) at '%3'")
                                  .arg(players.join(' '))
                                  .arg(qint64(minPlayers))
                                  .arg(hostAddress));
    }
};

// One step of a script: an event for room 4 (or another room), or a change of the fakes' state.
struct Step {
    enum Kind { Event, Load, Ready, Busy, Idle, Refuse, Accept, Leave } kind = Event;
    RoomEvent event;
};

Step ev(quint32 kind, uint userId, uint otherId = 0, uint value = 0, const QString& text = {},
        uint roomId = room)
{
    return {Step::Event, {kind, roomId, userId, otherId, value, 0, text}};
}

Step state(Step::Kind kind)
{
    return {kind, {}};
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
        FakeBattle::idle = FakeBattle::dropping = true;
        router.setMatchViews(&views);
        router.addRoom(room, &fakeRoom);
    }
    void run(const QList<Step>& steps)
    {
        for (const Step& step : steps) {
            switch (step.kind) {
            case Step::Event:
                router.queue(step.event);
                break;
            case Step::Load:
            case Step::Ready:
                fakeRoom.loading = step.kind == Step::Load;
                break;
            case Step::Busy:
            case Step::Idle:
                FakeBattle::idle = step.kind == Step::Idle;
                break;
            case Step::Refuse:
            case Step::Accept:
                FakeBattle::dropping = step.kind == Step::Accept;
                break;
            case Step::Leave:
                router.removeRoom(room);
                break;
            }
            // What a held event waited for is marked, so that the log shows it waited.
            if (step.kind == Step::Ready || step.kind == Step::Idle || step.kind == Step::Accept)
                note("(released)");
            router.runRoomEvents();
        }
    }
};

const Step ownRecruit = ev(EventRecruitStart, own, 2, 4);
const Step hanakoRecruits = ev(EventRecruitStart, hanako, 2, 4);

struct Case {
    const char* name;
    QList<Step> steps;
    QStringList effects;
};

const Case cases[] = {
    {"lines in order; other rooms and unknown kinds drop",
     {ev(EventSpeak, hanako, 0, 0, "hi"), ev(EventSpeak, hanako, 0, 0, "elsewhere", 8),
      ev(lastRoomEventKind + 1, hanako), ev(EventEnter, jiro, 0, 0, "じろう"),
      ev(EventLeave, jiro)},
     {"5 says hi", "6 enters as じろう", "6 leaves"}},
    {"a loading room holds the queue in arrival order",
     {state(Step::Load), ev(EventSpeak, hanako, 0, 0, "a"), ev(EventLeave, jiro),
      state(Step::Ready)},
     {"(released)", "5 says a", "6 leaves"}},
    {"own recruit", {ownRecruit}, {"7 recruits", "battle button off", "recruit 4 (2-4) opened"}},
    {"another's recruit is offered once",
     {hanakoRecruits, hanakoRecruits},
     {"5 recruits", "offer 5 u5 (4) opened", "5 recruits"}},
    {"no offer during the own match",
     {ownRecruit, hanakoRecruits},
     {"7 recruits", "battle button off", "recruit 4 (2-4) opened", "5 recruits"}},
    {"own recruit drops the offers",
     {hanakoRecruits, ownRecruit},
     {"5 recruits", "offer 5 u5 (4) opened", "7 recruits", "battle button off",
      "offer 5 u5 (4) closed", "recruit 4 (2-4) opened"}},
    {"applications count on the host's window",
     {ownRecruit, ev(EventApply, hanako, own, 2), ev(EventApplyCancel, hanako, own, 1)},
     {"7 recruits", "battle button off", "recruit 4 (2-4) opened", "5 applies to 7",
      "recruit 4 (2-4) counts 2", "5 withdraws from 7", "recruit 4 (2-4) counts 1"}},
    {"the own application taken turns the offer into the wait",
     {hanakoRecruits, ev(EventRecruitStart, jiro, 2, 3), ev(EventApply, own, hanako, 2),
      ev(EventApply, jiro, hanako, 3), ev(EventApplyCancel, own, hanako, 2)},
     {"5 recruits", "offer 5 u5 (4) opened", "6 recruits", "offer 6 u6 (3) opened",
      "7 applies to 5", "wait 5 (2/4) opened", "offer 5 u5 (4) closed", "offer 6 u6 (3) closed",
      "battle button off", "6 applies to 5", "wait 5 (2/4) counts 3", "7 withdraws from 5",
      "wait 5 (2/4) closed", "battle button on"}},
    {"the host's game starts with the recruit's minimum",
     {ownRecruit, ev(EventApply, hanako, own, 2), ev(EventGameStart, own)},
     {"7 recruits", "battle button off", "recruit 4 (2-4) opened", "5 applies to 7",
      "recruit 4 (2-4) counts 2", "7 starts", "recruit 4 (2-4) closed",
      "battle of u7 u5 (min 2) at ''"}},
    {"a guest's game starts at the host's address",
     {hanakoRecruits, ev(EventApply, own, hanako, 2), ev(EventGameStart, hanako, 0, 0, "addr")},
     {"5 recruits", "offer 5 u5 (4) opened", "7 applies to 5", "wait 5 (2/4) opened",
      "offer 5 u5 (4) closed", "battle button off", "5 starts", "wait 5 (2/4) closed",
      "battle of u5 u7 (min 4294967295) at 'addr'"}},
    {"another's game closes its offer",
     {hanakoRecruits, ev(EventGameStart, hanako)},
     {"5 recruits", "offer 5 u5 (4) opened", "5 starts", "offer 5 u5 (4) closed"}},
    {"the game's end waits for the battle's command",
     {ownRecruit, ev(EventGameStart, own), state(Step::Busy), ev(EventGameEnd, own),
      state(Step::Idle)},
     {"7 recruits", "battle button off", "recruit 4 (2-4) opened", "7 starts",
      "recruit 4 (2-4) closed", "battle of u7 (min 2) at ''", "(released)", "battle closed",
      "battle button on", "7 ends"}},
    {"a player's leave waits until the battle drops them",
     {hanakoRecruits, ev(EventApply, own, hanako, 2), ev(EventGameStart, hanako),
      state(Step::Refuse), ev(EventGameLeave, jiro, hanako), state(Step::Accept)},
     {"5 recruits", "offer 5 u5 (4) opened", "7 applies to 5", "wait 5 (2/4) opened",
      "offer 5 u5 (4) closed", "battle button off", "5 starts", "wait 5 (2/4) closed",
      "battle of u5 u7 (min 4294967295) at ''", "(released)", "battle drops 6",
      "6 leaves 5's game"}},
    {"the recruit's cancel ends it",
     {ownRecruit, ev(EventRecruitCancel, own)},
     {"7 recruits", "battle button off", "recruit 4 (2-4) opened", "7 cancels",
      "recruit 4 (2-4) closed", "battle button on"}},
    {"leaving the room ends its match and its events",
     {ownRecruit, ev(EventGameStart, own), state(Step::Leave),
      ev(EventSpeak, hanako, 0, 0, "gone")},
     {"7 recruits", "battle button off", "recruit 4 (2-4) opened", "7 starts",
      "recruit 4 (2-4) closed", "battle of u7 (min 2) at ''", "battle closed"}},
};

// The local user's second match: the server and the client disagree.
int runRouterScenario(const QString& name)
{
    auto answers = answerEveryModalWindow();
    Routing routing;
    if (name == "recruit twice")
        routing.run({ownRecruit, ownRecruit});
    else
        routing.run({ownRecruit, ev(EventGameStart, own), ev(EventGameStart, own)});
    return 99;
}
} // namespace

class RoomEventRouterTest : public QObject
{
    Q_OBJECT

  private slots:
    void routes_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(cases)); ++i)
            QTest::newRow(cases[i].name) << i;
    }

    void routes()
    {
        QFETCH(int, index);
        Routing routing;
        routing.run(cases[index].steps);
        QCOMPARE(effects, cases[index].effects);
    }

    // A flood longer than one run may take is handled to its end, in order, a slice per turn of
    // the event loop.
    void flood()
    {
        Routing routing;
        QStringList expected{"(released)"};
        routing.fakeRoom.loading = true;
        for (int i = 0; i < 50000; ++i) {
            routing.router.queue(ev(EventSpeak, hanako, 0, 0, QString::number(i)).event);
            expected << QString("5 says %1").arg(i);
        }
        routing.run({state(Step::Ready)});
        QVERIFY(effects.size() < expected.size());
        QTRY_COMPARE(effects.size(), expected.size());
        QCOMPARE(effects, expected);
    }

    // A handler may run a nested event loop (a message box does) in which the router is run
    // again: the run in progress goes on with the queue instead of handling its head twice.
    void nestedRunHandlesTheHeadOnce()
    {
        struct NestingRoom : FakeRoom {
            RoomEventRouter* router = nullptr;
            bool nested = false;
            bool handleEnter(uint userId, const QString& name) override
            {
                if (!std::exchange(nested, true)) {
                    router->queue(ev(EventSpeak, userId, 0, 0, "meanwhile").event);
                    router->runRoomEvents();
                }
                return FakeRoom::handleEnter(userId, name);
            }
        } nesting;
        Routing routing;
        nesting.router = &routing.router;
        routing.router.addRoom(room, &nesting);
        routing.run({ev(EventEnter, jiro, 0, 0, "じろう")});
        QCOMPARE(effects, (QStringList{"6 enters as じろう", "6 says meanwhile"}));
    }

    void secondMatchIsFatal_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::addColumn<QString>("message");
        QTest::newRow("recruit") << "recruit twice"
                                 << "なぜか募集を複数回できてしまった";
        QTest::newRow("battle") << "battle twice"
                                << "なぜか対戦中に再度対戦が指定された";
    }

    void secondMatchIsFatal()
    {
        QFETCH(QString, scenario);
        QFETCH(QString, message);
        VERIFY_FATAL_EXIT(runScenario(scenario), message);
    }
};

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(RoomEventRouterTest, runRouterScenario)
#include "tst_roomeventrouter.moc"
