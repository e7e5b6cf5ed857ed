// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbyevents.h"
#include "ratewindow.h"
#include "serverconfig.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <map>
#include <unordered_map>

struct LobbyUser {
    quint32 id = 0;
    QString account;
    QString handle;
    bool admin = false;
    // The network the user connected from; the rooms it may hold are counted per network.
    QString addressGroup;
    QVector<quint32> rooms;
    RateWindow chat;
    RateWindow roomCreations;
};

// One recruit, and once started one game, hosted in a room.
struct Match {
    quint32 hostId = 0;
    QVector<quint32> guests;
    bool started = false;
    GameRule rule;

    quint32 players() const { return quint32(guests.size()) + 1; }
};

struct Room {
    quint32 id = 0;
    QString title;
    QString password;
    quint32 capacity = 0;
    quint32 gameId = chatOnlyGameId;
    bool permanent = false;
    // The user who created the room, while still in it; 0 once gone.
    quint32 holderId = 0;
    QVector<quint32> members;
    QVector<Match> matches;
};

enum class EnterResult : quint32 {
    Entered = 0,
    NoRoom = 1,
    Full = 2,
    WrongPassword = 3,
    AlreadyInside = 4,
    TooManyRooms = 5,
};

// Empty when the change was made, else why it was refused (for the log).
using Refusal = QString;

// Users, rooms and matches. Every change of a room or a match goes through this class, which
// reports the room events that belong to it, so that leaving and disconnecting cannot forget one.
class Lobby : public QObject
{
    Q_OBJECT

  public:
    Lobby(const ServerConfig& config, LobbyEvents& events);

    const ServerConfig& settings() const { return config; }
    LobbyUser* user(quint32 id);
    int userCount() const { return int(users.size()); }
    // Chat lines delivered so far, one for each member a line reached.
    quint64 chatDeliveries() const { return delivered; }
    // Every user logged in, in no particular order.
    QList<const LobbyUser*> onlineUsers() const;
    // An operator's mute: the account's chat lines are refused until then (monotonic ms), across
    // logins, until the server stops. False from unmute when the account was not muted.
    void mute(const QString& account, qint64 untilMs);
    bool unmute(const QString& account);
    int roomCount() const { return int(rooms.size()); }
    int matchCount() const;
    QString systemMessage() const { return message; }

    LobbyUser& login(quint32 id, const QString& account, const QString& handle, bool admin,
                     const QString& addressGroup = {});
    // Leaves every room the user is in, with all their events, then forgets the user.
    void logout(quint32 id);

    quint32 roomSlots() const { return config.roomSlots; }
    const Room* room(quint32 id) const;
    // The first existing room numbered above id, or noRoom.
    quint32 roomAfter(quint32 id) const;
    // The new room's number, or noRoom with the reason in refusal.
    quint32 createRoom(LobbyUser& user, const QString& title, const QString& password,
                       quint32 capacity, quint32 gameId, Refusal& refusal);
    EnterResult enterRoom(LobbyUser& user, quint32 roomId, const QString& password);
    Refusal leaveRoom(LobbyUser& user, quint32 roomId);
    Refusal speak(LobbyUser& user, quint32 roomId, const QString& text);

    Refusal recruit(LobbyUser& user, quint32 roomId);
    Refusal cancelRecruit(LobbyUser& user, quint32 roomId);
    Refusal apply(LobbyUser& user, quint32 roomId, quint32 hostId);
    Refusal cancelApply(LobbyUser& user, quint32 roomId);
    Refusal startBattle(LobbyUser& user, quint32 roomId, const QString& hostAddress);
    Refusal endBattle(LobbyUser& user, quint32 roomId);
    Refusal dropBattle(LobbyUser& user, quint32 roomId);

    void setSystemMessage(const QString& text);

  private:
    Room* memberRoom(LobbyUser& user, quint32 roomId);
    Match* hostedMatch(Room& room, quint32 hostId);
    Match* joinedMatch(Room& room, quint32 guestId);
    bool inAnyMatch(const LobbyUser& user);
    // Ends the user's recruit, application or game in the room, telling the members left.
    void releaseMatches(Room& room, quint32 userId);
    void announce(const Room& room, RoomEventKind kind, quint32 userId, quint32 otherId = 0,
                  quint32 value = 0, const QString& text = {}, quint32 skipUserId = 0);
    // The connection count reaches everyone at most once per interval: logins in bursts
    // would otherwise cost one notification per user per login.
    void connectionCountChanged();
    void sendConnectionCount();

    const ServerConfig& config;
    LobbyEvents& events;
    QString message;
    std::unordered_map<quint32, LobbyUser> users;
    QHash<QString, qint64> mutedUntil; // by account name in lower case
    quint64 delivered = 0;
    std::map<quint32, Room> rooms;
    // Rooms whose creator is still in them, per network of the creator: room slots are few, and
    // accounts are cheap.
    QHash<QString, int> heldRooms;
    QTimer countTimer;
    quint32 countSent = 0;
};
