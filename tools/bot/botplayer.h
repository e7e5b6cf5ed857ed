// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "botsettings.h"
#include "lobbyclient.h"

#include <QObject>

#include <functional>

// One bot on one connection: logs in, goes to its room and behaves there like a player, as its
// settings say: greets, chats, answers, recruits and starts matches, applies to others' matches
// and ends its side of a match after a while.
class BotPlayer : public QObject
{
    Q_OBJECT

  public:
    explicit BotPlayer(const BotSettings& settings, QObject* parent = nullptr);

    void start();
    // Sends Quit; finished() follows the server's close notice.
    void stop();

    LobbyClient* client() const { return lobby; }
    quint32 userId() const { return ownId; }
    quint32 roomId() const { return room; }
    QString name() const { return ownName; }
    bool isReady() const { return arrived; }

  signals:
    // In its room (or logged in, when it was given no room).
    void ready();
    // The connection ended: 0 when the server closed it in order, 1 after any failure.
    void finished(int exitCode);

  private:
    enum class Match { Idle, Recruiting, Applying, Waiting, Hosting, Guest };

    void loggedIn(const LoginReply& reply);
    void haveName(const QString& name);
    void goToRoom();
    void findRoom(const QVector<RoomInfo>& rooms);
    void enter(quint32 roomId);
    void inRoom(quint32 roomId, quint32 gameId);
    void handleEvent(const RoomEventFields& event);
    void handleMatchEvent(const RoomEventFields& event);
    // Applying to, waiting for or playing in the match of that host.
    bool isGuestOf(quint32 hostId) const;
    void arrive();

    void scheduleChat();
    void scheduleRecruit(int delayMs);
    void renewRecruit();
    void applyTo(quint32 hostId);
    void startWhenFull();
    void beginMatch(Match side);
    void endOwnSide();
    void setIdle();
    // Runs action after delayMs unless the match has moved on meanwhile.
    void later(int delayMs, std::function<void()> action);

    void log(const QString& text) const;
    void warn(const QString& text) const;
    void say(const QString& line);
    void giveUp(const QString& why);
    void handleClosed(LobbyClient::CloseReason reason);

    BotSettings settings;
    LobbyClient* lobby;
    quint32 ownId = 0;
    QString ownName;
    QByteArray ownNameUtf8;
    quint32 room = noRoom;
    bool gameRoom = false;
    bool failed = false;
    bool arrived = false;

    Match match = Match::Idle;
    quint64 matchSerial = 0; // changes whenever the match moves on, cancelling pending actions
    quint32 host = 0;        // host of the match applied to or played as a guest
    quint32 players = 0;
    quint32 minPlayers = 2;
    qint64 lastAnswerMs = -1;
    bool renewing = false; // the recruitment is cancelled only to be started again at once
};
