// SPDX-License-Identifier: GPL-3.0-or-later
#include "botplayer.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QTimer>

namespace
{
QString pick(const QStringList& lines)
{
    return lines.at(QRandomGenerator::global()->bounded(int(lines.size())));
}
} // namespace

BotPlayer::BotPlayer(const BotSettings& settings, QObject* parent)
    : QObject(parent), settings(settings), lobby(new LobbyClient(this))
{
    connect(lobby, &LobbyClient::roomEvent, this, &BotPlayer::handleEvent);
    connect(lobby, &LobbyClient::closed, this, &BotPlayer::handleClosed);
}

void BotPlayer::start()
{
    if (settings.tls)
        lobby->useTls(settings.caFile);
    lobby->connectToServer(settings.host, settings.port);
    const bool sent = lobby->authenticate(settings.account, settings.password,
                                          [this](const LoginReply& reply) { loggedIn(reply); });
    if (!sent)
        giveUp("account or password too long");
}

void BotPlayer::stop()
{
    lobby->quit();
}

void BotPlayer::log(const QString& text) const
{
    if (!settings.quiet)
        qInfo().noquote() << QString("[%1] %2").arg(settings.account, text);
}

void BotPlayer::say(const QString& line)
{
    log("says " + line);
    lobby->speak(room, line);
}

void BotPlayer::warn(const QString& text) const
{
    qWarning().noquote() << QString("[%1] %2").arg(settings.account, text);
}

void BotPlayer::giveUp(const QString& why)
{
    warn(why);
    failed = true;
    lobby->quit();
}

void BotPlayer::handleClosed(LobbyClient::CloseReason reason)
{
    const bool orderly =
        reason == LobbyClient::NormalClose || reason == LobbyClient::ServerShutdown;
    const QString text = "connection ended: " + lobby->closeDetail();
    orderly ? log(text) : warn(text);
    emit finished(orderly && !failed ? 0 : 1);
}

void BotPlayer::loggedIn(const LoginReply& reply)
{
    if (reply.result != 0) {
        giveUp(QString("login refused (%1)").arg(reply.result));
        return;
    }
    ownId = reply.userId;
    lobby->getName(ownId, [this](quint32 result, const QString& name) {
        if (result != 0)
            giveUp("own handle name refused");
        else
            haveName(name);
    });
}

void BotPlayer::haveName(const QString& name)
{
    ownName = name;
    if (!settings.name.isEmpty() && settings.name != name) {
        ownName = settings.name;
        lobby->setName(ownName);
    } else if (name.isEmpty()) {
        // A nameless player cannot be addressed, nor greeted by the others.
        ownName = settings.account;
        lobby->setName(ownName);
    }
    ownNameUtf8 = ownName.toUtf8();
    log(QString("logged in as user %1, %2").arg(ownId).arg(ownName));
    goToRoom();
}

void BotPlayer::goToRoom()
{
    if (!settings.createTitle.isEmpty()) {
        const bool sent = lobby->createRoom(
            settings.createTitle, settings.roomPassword, settings.capacity, settings.gameId,
            [this](quint32 roomId) {
                if (roomId == noRoom)
                    giveUp(QString("room \"%1\" not created").arg(settings.createTitle));
                else
                    inRoom(roomId, settings.gameId);
            });
        if (!sent)
            giveUp("room title too long");
        return;
    }
    if (settings.room.isEmpty()) {
        arrive();
        return;
    }
    lobby->listRooms([this](const QVector<RoomInfo>& rooms) { findRoom(rooms); });
}

void BotPlayer::findRoom(const QVector<RoomInfo>& rooms)
{
    bool isNumber = false;
    const quint32 number = settings.room.toUInt(&isNumber);
    for (const RoomInfo& info : rooms) {
        if ((isNumber && info.roomId == number) || info.title == settings.room) {
            enter(info.roomId);
            return;
        }
    }
    giveUp(QString("no room \"%1\"").arg(settings.room));
}

void BotPlayer::enter(quint32 roomId)
{
    lobby->enterRoom(roomId, settings.roomPassword,
                     [this, roomId](quint32 result, const QVector<quint32>&) {
                         if (result != 0) {
                             giveUp(QString("room %1 refused entry (%2)").arg(roomId).arg(result));
                             return;
                         }
                         // The room's events count from here, before its details arrive.
                         room = roomId;
                         lobby->getRoomInfo(roomId, [this, roomId](const RoomInfo& info) {
                             inRoom(roomId, info.gameId);
                         });
                     });
}

void BotPlayer::inRoom(quint32 roomId, quint32 gameId)
{
    room = roomId;
    gameRoom = gameId != chatOnlyGameId;
    log(QString("in room %1").arg(room));
    if (settings.chatIntervalMs > 0)
        scheduleChat();
    if (settings.recruit && !gameRoom)
        log("a chat-only room: no matches here");
    scheduleRecruit(settings.thinkMs);
    arrive();
}

void BotPlayer::arrive()
{
    arrived = true;
    emit ready();
}

void BotPlayer::scheduleChat()
{
    // Spread around the interval so that a room of bots does not speak in chorus.
    const int delay = settings.chatIntervalMs / 2 +
                      int(QRandomGenerator::global()->bounded(settings.chatIntervalMs + 1));
    QTimer::singleShot(delay, this, [this] {
        if (lobby->isClosed())
            return;
        say(pick(settings.chatLines));
        scheduleChat();
    });
}

void BotPlayer::handleEvent(const RoomEventFields& event)
{
    if (event.roomId != room)
        return;
    const bool own = event.userId == ownId;
    switch (event.eventKind) {
    case EventSpeak: {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const bool coolingDown =
            lastAnswerMs >= 0 && now - lastAnswerMs < settings.answerCooldownMs;
        if (!settings.answer || own || coolingDown || ownNameUtf8.isEmpty() ||
            !event.utf8Text.contains(ownNameUtf8))
            return;
        lastAnswerMs = now;
        QTimer::singleShot(settings.thinkMs, this, [this] { say(pick(settings.answerLines)); });
        return;
    }
    case EventEnter:
        if (own)
            return;
        if (settings.greet) {
            const QString line = QString::fromUtf8("ようこそ、%1さん！").arg(event.text());
            QTimer::singleShot(settings.thinkMs, this, [this, line] { say(line); });
        }
        if (match == Match::Recruiting && players == 1)
            renewRecruit();
        return;
    default:
        handleMatchEvent(event);
    }
}

void BotPlayer::handleMatchEvent(const RoomEventFields& event)
{
    const bool own = event.userId == ownId;
    switch (event.eventKind) {
    case EventRecruitStart:
        if (own) {
            match = Match::Recruiting;
            ++matchSerial;
            minPlayers = event.otherId;
            players = 1;
            log("recruiting");
        } else if (settings.apply && match == Match::Idle) {
            applyTo(event.userId);
        }
        return;
    case EventRecruitCancel:
        if (own || isGuestOf(event.userId))
            setIdle();
        return;
    case EventApply:
        if (event.otherId == ownId && match == Match::Recruiting) {
            players = event.value;
            startWhenFull();
        } else if (own && match == Match::Applying && host == event.otherId) {
            match = Match::Waiting;
            log("waiting for the host");
        }
        return;
    case EventApplyCancel:
        if (event.otherId == ownId)
            players = event.value;
        else if (own && isGuestOf(event.otherId))
            setIdle();
        return;
    case EventGameStart:
        if (own && match == Match::Recruiting)
            beginMatch(Match::Hosting);
        else if (match == Match::Waiting && host == event.userId)
            beginMatch(Match::Guest);
        return;
    case EventGameEnd:
        if ((own && match == Match::Hosting) || isGuestOf(event.userId))
            setIdle();
        return;
    case EventGameLeave:
        if (event.otherId == ownId && match == Match::Hosting && players > 0 &&
            --players < minPlayers)
            endOwnSide();
        else if (own && match == Match::Guest)
            setIdle();
        return;
    default:
        return;
    }
}

bool BotPlayer::isGuestOf(quint32 hostId) const
{
    return (match == Match::Applying || match == Match::Waiting || match == Match::Guest) &&
           host == hostId;
}

void BotPlayer::later(int delayMs, std::function<void()> action)
{
    const quint64 serial = matchSerial;
    QTimer::singleShot(delayMs, this, [this, serial, action = std::move(action)] {
        if (serial == matchSerial && !lobby->isClosed())
            action();
    });
}

void BotPlayer::scheduleRecruit(int delayMs)
{
    if (!settings.recruit || !gameRoom)
        return;
    later(delayMs, [this] {
        if (match != Match::Idle)
            return;
        lobby->recruitMatch(room, [this](quint32 result) {
            if (result != 0 && match == Match::Idle)
                scheduleRecruit(settings.restMs);
        });
    });
}

void BotPlayer::renewRecruit()
{
    // A newcomer hears of no recruitment that started before it came in, so a host still alone
    // starts over where the newcomer sees it.
    later(settings.thinkMs, [this] {
        if (match != Match::Recruiting || players != 1)
            return;
        renewing = true;
        lobby->cancelRecruit(room, nullptr);
    });
}

void BotPlayer::applyTo(quint32 hostId)
{
    match = Match::Applying;
    ++matchSerial;
    host = hostId;
    later(settings.thinkMs, [this] {
        log(QString("applying to user %1").arg(host));
        lobby->applyMatch(room, host, [this](quint32 result) {
            if (result != 0 && match == Match::Applying)
                setIdle();
        });
    });
}

void BotPlayer::startWhenFull()
{
    if (players < minPlayers)
        return;
    later(settings.thinkMs, [this] {
        if (match == Match::Recruiting && players >= minPlayers)
            lobby->startBattle(room, [this](quint32 result) {
                if (result != 0)
                    log(QString("start refused (%1)").arg(result));
            });
    });
}

void BotPlayer::beginMatch(Match side)
{
    match = side;
    ++matchSerial;
    log(side == Match::Hosting ? "match started as host" : "match started as guest");
    later(settings.battleMs, [this] { endOwnSide(); });
}

void BotPlayer::endOwnSide()
{
    // The host ends the whole match; a guest only leaves it.
    const bool hosting = match == Match::Hosting;
    ++matchSerial;
    log(hosting ? "ending the match" : "leaving the match");
    if (hosting)
        lobby->endBattle(room, nullptr);
    else
        lobby->dropBattle(room, nullptr);
}

void BotPlayer::setIdle()
{
    if (match == Match::Idle)
        return;
    match = Match::Idle;
    ++matchSerial;
    host = 0;
    log("idle");
    scheduleRecruit(std::exchange(renewing, false) ? settings.thinkMs : settings.restMs);
}
