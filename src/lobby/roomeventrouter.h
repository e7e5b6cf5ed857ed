// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/matchviews.h"
#include "lobby/roomevent.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QVector>

#include <functional>
#include <memory>

// Hands the rooms' events, strictly in arrival order, to their rooms and to the local user's
// match: at most one recruit, wait or battle at a time, and the offers to join other users'
// recruits. An event its room cannot take yet holds the whole queue until the next run.
class RoomEventRouter : public QObject
{
    Q_OBJECT

  public:
    explicit RoomEventRouter(QObject* parent = nullptr);
    ~RoomEventRouter() override;

    void setMatchViews(MatchViews* views) { this->views = views; }

    // A room takes events from the moment it is added; events of other rooms drop.
    void addRoom(uint roomId, LobbyRoom* room);
    // The room's match ends with the room.
    void removeRoom(uint roomId);
    LobbyRoom* room(uint roomId) const { return rooms.value(roomId); }

    void queue(const RoomEvent& event) { roomEvents.append(event); }
    void runRoomEvents();

    bool canStartMatch() const;
    // Drops an offer the user declined; nothing happens for one the router no longer holds.
    void removeApplyDialog(OfferView* offer);

  private:
    template <class View> struct Held {
        uint roomId = 0;
        uint hostId = 0;
        std::unique_ptr<View> view;

        bool belongsTo(uint room, uint host) const
        {
            return view && roomId == room && hostId == host;
        }
        // Deletes the window; true when there was one.
        bool releaseIf(bool which)
        {
            if (!view || !which)
                return false;
            view.reset();
            return true;
        }
    };
    struct Offer {
        uint roomId;
        uint hostId;
        QString hostName;
        uint maxPlayers;
        OfferView* view;
    };

    bool routeRoomEvent(LobbyRoom& room, const RoomEvent& event);
    // One route per event kind. The room's handler goes first (it writes the room's line), the
    // match windows of the event follow it; false holds the event at the head of the queue.
    bool routeSpeak(LobbyRoom& room, const RoomEvent& event);
    bool routeEnter(LobbyRoom& room, const RoomEvent& event);
    bool routeLeave(LobbyRoom& room, const RoomEvent& event);
    bool routeRecruitStart(LobbyRoom& room, const RoomEvent& event);
    bool routeRecruitCancel(LobbyRoom& room, const RoomEvent& event);
    bool routeApply(LobbyRoom& room, const RoomEvent& event);
    bool routeApplyCancel(LobbyRoom& room, const RoomEvent& event);
    bool routeGameStart(LobbyRoom& room, const RoomEvent& event);
    bool routeGameEnd(LobbyRoom& room, const RoomEvent& event);
    bool routeGameLeave(LobbyRoom& room, const RoomEvent& event);
    void setBattleEnabledInRooms(bool on);
    void removeApplyDialogs(const std::function<bool(const Offer&)>& which);
    void setOfferCounts(const RoomEvent& event);

    MatchViews* views = nullptr;
    QMap<uint, LobbyRoom*> rooms;
    QList<RoomEvent> roomEvents;
    bool runningRoomEvents = false;
    // The local user's match, at most one of the three: while one exists no other may start.
    Held<MatchView> recruit;
    uint recruitMinPlayers = 0;
    Held<MatchView> wait;
    Held<BattleView> battle;
    // Offers to join other users' recruits, in the order they came.
    QVector<Offer> offers;
};
