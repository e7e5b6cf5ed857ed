// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobby/roomeventrouter.h"

#include "app/globals.h"
#include "lobby/lobbyroom.h"
#include "lobby/recruitment.h"
#include "lobbywire.h"

#include <QElapsedTimer>

#include <iterator>

// Longest run of the room-event queue before the event loop gets a turn.
static const qint64 roomEventSliceMs = 4;

RoomEventRouter::RoomEventRouter(QObject* parent) : QObject(parent) {}

RoomEventRouter::~RoomEventRouter() = default;

void RoomEventRouter::addRoom(uint roomId, LobbyRoom* room)
{
    rooms.insert(roomId, room);
}

void RoomEventRouter::removeRoom(uint roomId)
{
    if (!rooms.remove(roomId))
        return;
    bool released = recruit.releaseIf(recruit.roomId == roomId);
    removeApplyDialogs([roomId](const Offer& offer) { return offer.roomId == roomId; });
    released = wait.releaseIf(wait.roomId == roomId) || released;
    released = battle.releaseIf(battle.roomId == roomId) || released;
    if (released)
        setBattleEnabledInRooms(true);
}

bool RoomEventRouter::canStartMatch() const
{
    return !recruit.view && !wait.view && !battle.view;
}

void RoomEventRouter::removeApplyDialog(OfferView* offer)
{
    for (int i = 0; i < offers.size(); ++i) {
        if (offers[i].view == offer) {
            offers.removeAt(i);
            offer->closeLater();
            return;
        }
    }
}

void RoomEventRouter::removeApplyDialogs(const std::function<bool(const Offer&)>& which)
{
    const QVector<Offer> held = offers;
    for (const Offer& offer : held) {
        if (which(offer))
            removeApplyDialog(offer.view);
    }
}

void RoomEventRouter::setBattleEnabledInRooms(bool on)
{
    for (LobbyRoom* room : std::as_const(rooms))
        room->setBattleEnabled(on);
}

void RoomEventRouter::runRoomEvents()
{
    // A handler that runs a nested event loop lets notifications in, and with them calls of
    // this; the run in progress goes on with them after the handler, so that the head event is
    // never handled twice.
    if (runningRoomEvents)
        return;
    runningRoomEvents = true;
    QElapsedTimer slice;
    slice.start();
    while (!roomEvents.isEmpty()) {
        // A flood of events must not freeze the window: after a slice the rest waits until the
        // event loop has had a turn, still in order and ahead of later events.
        if (slice.hasExpired(roomEventSliceMs)) {
            QMetaObject::invokeMethod(this, &RoomEventRouter::runRoomEvents, Qt::QueuedConnection);
            break;
        }
        const RoomEvent& event = roomEvents.first();
        // Rooms not entered, left or still loading, and unknown kinds, drop.
        LobbyRoom* room = rooms.value(event.roomId);
        if (room && event.eventKind <= lastRoomEventKind && !routeRoomEvent(*room, event))
            break;
        roomEvents.removeFirst();
    }
    runningRoomEvents = false;
}

bool RoomEventRouter::routeRoomEvent(LobbyRoom& room, const RoomEvent& event)
{
    using Route = bool (RoomEventRouter::*)(LobbyRoom&, const RoomEvent&);
    // Indexed by the event kind.
    static constexpr Route routes[] = {
        &RoomEventRouter::routeSpeak,         &RoomEventRouter::routeEnter,
        &RoomEventRouter::routeLeave,         &RoomEventRouter::routeRecruitStart,
        &RoomEventRouter::routeRecruitCancel, &RoomEventRouter::routeApply,
        &RoomEventRouter::routeApplyCancel,   &RoomEventRouter::routeGameStart,
        &RoomEventRouter::routeGameEnd,       &RoomEventRouter::routeGameLeave,
    };
    static_assert(std::size(routes) == lastRoomEventKind + 1);
    return (this->*routes[event.eventKind])(room, event);
}

bool RoomEventRouter::routeSpeak(LobbyRoom& room, const RoomEvent& event)
{
    return room.handleSpeak(event.userId, event.text);
}

bool RoomEventRouter::routeEnter(LobbyRoom& room, const RoomEvent& event)
{
    return room.handleEnter(event.userId, event.text);
}

bool RoomEventRouter::routeLeave(LobbyRoom& room, const RoomEvent& event)
{
    return room.handleLeave(event.userId);
}

// The own recruit opens the host's window; another user's is offered, unless the user is busy
// with a match or already has that offer.
bool RoomEventRouter::routeRecruitStart(LobbyRoom& room, const RoomEvent& event)
{
    if (!room.handleRecruitStart(event.userId))
        return false;
    if (event.userId != ownUserId) {
        if (!canStartMatch())
            return true;
        for (const Offer& offer : std::as_const(offers)) {
            if (offer.roomId == event.roomId && offer.hostId == event.userId)
                return true;
        }
        const QString hostName = room.userName(event.userId);
        offers.append({event.roomId, event.userId, hostName, event.value,
                       views->openOffer(event.roomId, event.userId, hostName, event.value)});
        return true;
    }
    setBattleEnabledInRooms(false);
    battle.releaseIf(battle.belongsTo(event.roomId, event.userId));
    removeApplyDialogs([](const Offer&) { return true; });
    if (!canStartMatch())
        fatalError("なぜか募集を複数回できてしまった");
    // otherId carries the minimum number of players, value the maximum.
    recruit = {event.roomId, event.userId,
               std::unique_ptr<MatchView>(
                   views->openRecruit(room, event.roomId, event.otherId, event.value))};
    recruitMinPlayers = event.otherId;
    return true;
}

bool RoomEventRouter::routeRecruitCancel(LobbyRoom& room, const RoomEvent& event)
{
    if (!room.handleRecruitCancel(event.userId))
        return false;
    bool released = battle.releaseIf(battle.belongsTo(event.roomId, event.userId));
    released = wait.releaseIf(wait.belongsTo(event.roomId, event.userId)) || released;
    recruit.releaseIf(recruit.belongsTo(event.roomId, event.userId));
    removeApplyDialogs([&event](const Offer& offer) {
        return offer.roomId == event.roomId && offer.hostId == event.userId;
    });
    if (event.userId == ownUserId || released)
        setBattleEnabledInRooms(true);
    return true;
}

// A count change of otherId's recruit reaches the host's window and the offers of it.
void RoomEventRouter::setOfferCounts(const RoomEvent& event)
{
    if (recruit.belongsTo(event.roomId, event.otherId))
        recruit.view->setParticipantCount(event.value);
    for (const Offer& offer : std::as_const(offers)) {
        if (offer.roomId == event.roomId && offer.hostId == event.otherId)
            offer.view->setParticipantCount(event.value);
    }
}

// userId applied to otherId's recruit; value is the number of participants now. The user's own
// application, once taken, turns its offer into the waiting window.
bool RoomEventRouter::routeApply(LobbyRoom& room, const RoomEvent& event)
{
    if (!room.handleApply(event.otherId, event.userId))
        return false;
    if (event.userId != ownUserId) {
        setOfferCounts(event);
        if (wait.belongsTo(event.roomId, event.otherId))
            wait.view->setParticipantCount(event.value);
        return true;
    }
    if (recruit.belongsTo(event.roomId, event.otherId))
        recruit.view->setParticipantCount(event.value);
    const Offer* taken = nullptr;
    for (const Offer& offer : std::as_const(offers)) {
        if (offer.roomId == event.roomId && offer.hostId == event.otherId)
            taken = &offer;
    }
    if (!taken)
        return true;
    if (!canStartMatch())
        fatalError("なぜか待機を複数回できてしまった");
    wait = {taken->roomId, taken->hostId,
            std::unique_ptr<MatchView>(views->openWait(
                taken->roomId, taken->hostId, taken->hostName, taken->maxPlayers, event.value))};
    removeApplyDialogs([](const Offer&) { return true; });
    setBattleEnabledInRooms(false);
    return true;
}

bool RoomEventRouter::routeApplyCancel(LobbyRoom& room, const RoomEvent& event)
{
    if (!room.handleApplyCancel(event.otherId, event.userId))
        return false;
    setOfferCounts(event);
    if (!wait.belongsTo(event.roomId, event.otherId))
        return true;
    if (event.userId != ownUserId) {
        wait.view->setParticipantCount(event.value);
        return true;
    }
    wait.releaseIf(true);
    setBattleEnabledInRooms(true);
    return true;
}

// Every player of the host's recruit gets a battle; the host's window hands on its minimum, a
// guest has none.
bool RoomEventRouter::routeGameStart(LobbyRoom& room, const RoomEvent& event)
{
    if (!room.handleGameStart(event.userId))
        return false;
    wait.releaseIf(wait.belongsTo(event.roomId, event.userId));
    uint minPlayers = 0xFFFFFFFFu;
    if (recruit.releaseIf(recruit.belongsTo(event.roomId, event.userId)))
        minPlayers = recruitMinPlayers;
    removeApplyDialogs([&event](const Offer& offer) {
        return offer.roomId == event.roomId && offer.hostId == event.userId;
    });
    if (!room.isRecruitmentMember(event.userId, ownUserId))
        return true;
    if (battle.view)
        fatalError("なぜか対戦中に再度対戦が指定された");
    battle = {event.roomId, event.userId,
              std::unique_ptr<BattleView>(views->openBattle(
                  room, event.roomId, room.findRecruitment(event.userId), minPlayers, event.text))};
    return true;
}

// The battle sees the game's end and a player's leaving before the room writes its line, so the
// busy check comes before both.
bool RoomEventRouter::routeGameEnd(LobbyRoom& room, const RoomEvent& event)
{
    if (room.isLoading())
        return false;
    if (battle.belongsTo(event.roomId, event.userId)) {
        if (!battle.view->isIdle())
            return false;
        battle.releaseIf(true);
        setBattleEnabledInRooms(true);
    }
    return room.handleGameEnd(event.userId);
}

bool RoomEventRouter::routeGameLeave(LobbyRoom& room, const RoomEvent& event)
{
    if (room.isLoading())
        return false;
    if (battle.belongsTo(event.roomId, event.otherId) && !battle.view->removeMember(event.userId))
        return false;
    return room.handleGameLeave(event.otherId, event.userId);
}
