// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobby.h"

#include <algorithm>

Lobby::Lobby(const ServerConfig& config, LobbyEvents& events)
    : config(config), events(events), message(config.systemMessage)
{
    quint32 id = 0;
    for (const PermanentRoom& permanent : config.permanentRooms) {
        Room room;
        room.id = id;
        room.title = permanent.title;
        room.password = permanent.password;
        room.capacity = permanent.capacity;
        room.gameId = permanent.gameId;
        room.permanent = true;
        rooms.emplace(id++, room);
    }
    countTimer.setSingleShot(true);
    countTimer.setInterval(config.connectionCountIntervalMs);
    connect(&countTimer, &QTimer::timeout, this, &Lobby::sendConnectionCount);
}

LobbyUser* Lobby::user(quint32 id)
{
    const auto found = users.find(id);
    return found == users.end() ? nullptr : &found->second;
}

int Lobby::matchCount() const
{
    int count = 0;
    for (const auto& [id, room] : rooms)
        count += int(room.matches.size());
    return count;
}

LobbyUser& Lobby::login(quint32 id, const QString& account, const QString& handle, bool admin,
                        const QString& addressGroup)
{
    LobbyUser& user =
        users
            .try_emplace(id, LobbyUser{id,
                                       account,
                                       handle,
                                       admin,
                                       addressGroup,
                                       {},
                                       RateWindow(config.chatLinesPerSecond, 1000),
                                       RateWindow(config.roomCreationsPerMinute, 60 * 1000)})
            .first->second;
    connectionCountChanged();
    return user;
}

void Lobby::logout(quint32 id)
{
    LobbyUser* leaving = user(id);
    if (!leaving)
        return;
    while (!leaving->rooms.isEmpty())
        leaveRoom(*leaving, leaving->rooms.constLast());
    users.erase(id);
    connectionCountChanged();
}

const Room* Lobby::room(quint32 id) const
{
    const auto found = rooms.find(id);
    return found == rooms.end() ? nullptr : &found->second;
}

quint32 Lobby::roomAfter(quint32 id) const
{
    if (id == noRoom)
        return noRoom;
    const auto next = rooms.upper_bound(id);
    return next == rooms.end() ? noRoom : next->first;
}

quint32 Lobby::createRoom(LobbyUser& user, const QString& title, const QString& password,
                          quint32 capacity, quint32 gameId, Refusal& refusal)
{
    if (user.rooms.size() >= config.maxRoomsPerUser) {
        refusal = "room creation: already in the most rooms allowed";
        return noRoom;
    }
    if (heldRooms.value(user.addressGroup) >= config.roomsPerAddress) {
        refusal = "room creation: the most rooms held from network " + user.addressGroup;
        return noRoom;
    }
    // Room numbers are slots below roomSlots: the lowest free one is taken.
    quint32 id = 0;
    for (const auto& [taken, room] : rooms) {
        if (taken != id)
            break;
        ++id;
    }
    if (id >= config.roomSlots) {
        refusal = "room creation: every room slot is taken";
        return noRoom;
    }
    if (!user.roomCreations.tryTake(monotonicMs())) {
        refusal = "room creation: rate limit";
        return noRoom;
    }
    Room room;
    room.id = id;
    room.title = title;
    room.password = password;
    room.capacity = capacity;
    room.gameId = gameId;
    room.holderId = user.id;
    room.members.append(user.id);
    ++heldRooms[user.addressGroup];
    rooms.emplace(id, room);
    user.rooms.append(id);
    return id;
}

EnterResult Lobby::enterRoom(LobbyUser& user, quint32 roomId, const QString& password)
{
    const auto found = rooms.find(roomId);
    if (found == rooms.end())
        return EnterResult::NoRoom;
    Room& room = found->second;
    if (room.members.contains(user.id))
        return EnterResult::AlreadyInside;
    if (user.rooms.size() >= config.maxRoomsPerUser)
        return EnterResult::TooManyRooms;
    if (!room.password.isEmpty() && password != room.password)
        return EnterResult::WrongPassword;
    if (quint32(room.members.size()) >= room.capacity)
        return EnterResult::Full;
    room.members.append(user.id);
    user.rooms.append(roomId);
    announce(room, EventEnter, user.id, 0, 0, user.handle, user.id);
    return EnterResult::Entered;
}

Refusal Lobby::leaveRoom(LobbyUser& user, quint32 roomId)
{
    Room* room = memberRoom(user, roomId);
    if (!room)
        return QString("leave: not in room %1").arg(roomId);
    // The leaver is out of the member list before anything is announced: the others learn
    // of the end of its match first and of its leaving last, and the leaver hears neither.
    room->members.removeOne(user.id);
    user.rooms.removeOne(roomId);
    if (room->holderId == user.id) {
        room->holderId = 0;
        if (--heldRooms[user.addressGroup] <= 0)
            heldRooms.remove(user.addressGroup);
    }
    releaseMatches(*room, user.id);
    announce(*room, EventLeave, user.id);
    if (room->members.isEmpty() && !room->permanent)
        rooms.erase(roomId);
    return {};
}

Refusal Lobby::speak(LobbyUser& user, quint32 roomId, const QString& text)
{
    Room* room = memberRoom(user, roomId);
    if (!room)
        return QString("chat line: not in room %1").arg(roomId);
    const qint64 now = monotonicMs();
    if (const auto muted = mutedUntil.constFind(user.account.toLower());
        muted != mutedUntil.cend() && now < *muted)
        return QString("chat line in room %1: muted by an operator").arg(roomId);
    if (!user.chat.tryTake(now))
        return QString("chat line in room %1: rate limit").arg(roomId);
    announce(*room, EventSpeak, user.id, 0, 0, text);
    delivered += quint64(room->members.size());
    return {};
}

Refusal Lobby::recruit(LobbyUser& user, quint32 roomId)
{
    Room* room = memberRoom(user, roomId);
    if (!room)
        return QString("recruit: not in room %1").arg(roomId);
    if (room->gameId == chatOnlyGameId)
        return QString("recruit: room %1 is for chat only").arg(roomId);
    if (inAnyMatch(user))
        return "recruit: already recruiting, applying or playing";
    Match match;
    match.hostId = user.id;
    match.rule = config.games.value(room->gameId);
    room->matches.append(match);
    announce(*room, EventRecruitStart, user.id, match.rule.minPlayers, match.rule.maxPlayers);
    return {};
}

Refusal Lobby::cancelRecruit(LobbyUser& user, quint32 roomId)
{
    Room* room = memberRoom(user, roomId);
    Match* match = room ? hostedMatch(*room, user.id) : nullptr;
    if (!match || match->started)
        return QString("cancel recruit: no open recruit in room %1").arg(roomId);
    room->matches.removeAt(match - room->matches.data());
    announce(*room, EventRecruitCancel, user.id);
    return {};
}

Refusal Lobby::apply(LobbyUser& user, quint32 roomId, quint32 hostId)
{
    Room* room = memberRoom(user, roomId);
    Match* match = room ? hostedMatch(*room, hostId) : nullptr;
    if (!match || match->started || hostId == user.id)
        return QString("apply: no open recruit of user %1 in room %2").arg(hostId).arg(roomId);
    if (match->players() >= match->rule.maxPlayers)
        return QString("apply: the recruit of user %1 is full").arg(hostId);
    if (inAnyMatch(user))
        return "apply: already recruiting, applying or playing";
    match->guests.append(user.id);
    announce(*room, EventApply, user.id, hostId, match->players());
    return {};
}

Refusal Lobby::cancelApply(LobbyUser& user, quint32 roomId)
{
    Room* room = memberRoom(user, roomId);
    Match* match = room ? joinedMatch(*room, user.id) : nullptr;
    if (!match || match->started)
        return QString("cancel apply: no application in room %1").arg(roomId);
    match->guests.removeOne(user.id);
    announce(*room, EventApplyCancel, user.id, match->hostId, match->players());
    return {};
}

Refusal Lobby::startBattle(LobbyUser& user, quint32 roomId, const QString& hostAddress)
{
    Room* room = memberRoom(user, roomId);
    Match* match = room ? hostedMatch(*room, user.id) : nullptr;
    if (!match || match->started)
        return QString("start: no open recruit in room %1").arg(roomId);
    if (match->players() < match->rule.minPlayers)
        return QString("start: %1 of at least %2 players")
            .arg(match->players())
            .arg(match->rule.minPlayers);
    match->started = true;
    announce(*room, EventGameStart, user.id, 0, 0, hostAddress);
    return {};
}

Refusal Lobby::endBattle(LobbyUser& user, quint32 roomId)
{
    Room* room = memberRoom(user, roomId);
    Match* match = room ? hostedMatch(*room, user.id) : nullptr;
    if (!match || !match->started)
        return QString("end: no game hosted in room %1").arg(roomId);
    room->matches.removeAt(match - room->matches.data());
    announce(*room, EventGameEnd, user.id);
    return {};
}

Refusal Lobby::dropBattle(LobbyUser& user, quint32 roomId)
{
    Room* room = memberRoom(user, roomId);
    Match* match = room ? joinedMatch(*room, user.id) : nullptr;
    if (!match || !match->started)
        return QString("drop: no game joined in room %1").arg(roomId);
    match->guests.removeOne(user.id);
    announce(*room, EventGameLeave, user.id, match->hostId);
    return {};
}

QList<const LobbyUser*> Lobby::onlineUsers() const
{
    QList<const LobbyUser*> online;
    for (const auto& [id, user] : users)
        online.append(&user);
    return online;
}

void Lobby::mute(const QString& account, qint64 untilMs)
{
    mutedUntil.insert(account.toLower(), untilMs);
}

bool Lobby::unmute(const QString& account)
{
    return mutedUntil.remove(account.toLower()) > 0;
}

void Lobby::setSystemMessage(const QString& text)
{
    message = text;
    events.systemMessage(text);
}

Room* Lobby::memberRoom(LobbyUser& user, quint32 roomId)
{
    if (!user.rooms.contains(roomId))
        return nullptr;
    const auto found = rooms.find(roomId);
    return found == rooms.end() ? nullptr : &found->second;
}

Match* Lobby::hostedMatch(Room& room, quint32 hostId)
{
    for (Match& match : room.matches) {
        if (match.hostId == hostId)
            return &match;
    }
    return nullptr;
}

Match* Lobby::joinedMatch(Room& room, quint32 guestId)
{
    for (Match& match : room.matches) {
        if (match.guests.contains(guestId))
            return &match;
    }
    return nullptr;
}

bool Lobby::inAnyMatch(const LobbyUser& user)
{
    for (quint32 roomId : user.rooms) {
        Room& room = rooms.at(roomId);
        if (hostedMatch(room, user.id) || joinedMatch(room, user.id))
            return true;
    }
    return false;
}

void Lobby::releaseMatches(Room& room, quint32 userId)
{
    if (Match* match = hostedMatch(room, userId)) {
        const bool started = match->started;
        room.matches.removeAt(match - room.matches.data());
        announce(room, started ? EventGameEnd : EventRecruitCancel, userId);
    }
    if (Match* match = joinedMatch(room, userId)) {
        match->guests.removeOne(userId);
        if (match->started)
            announce(room, EventGameLeave, userId, match->hostId);
        else
            announce(room, EventApplyCancel, userId, match->hostId, match->players());
    }
}

void Lobby::announce(const Room& room, RoomEventKind kind, quint32 userId, quint32 otherId,
                     quint32 value, const QString& text, quint32 skipUserId)
{
    events.roomEvent(room.members, skipUserId,
                     RoomEvent{kind, room.id, userId, otherId, value, text});
}

void Lobby::connectionCountChanged()
{
    if (!countTimer.isActive())
        sendConnectionCount();
}

void Lobby::sendConnectionCount()
{
    const quint32 count = quint32(users.size());
    if (count == countSent)
        return;
    countSent = count;
    events.connectionCount(count);
    countTimer.start();
}
