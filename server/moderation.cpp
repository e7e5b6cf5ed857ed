// SPDX-License-Identifier: GPL-3.0-or-later
#include "moderation.h"

#include "ban.h"
#include "connection.h"
#include "lobby.h"
#include "notifier.h"
#include "serverconfig.h"
#include "storeworker.h"
#include "textchecks.h"
#include "textlimits.h"

#include <QDateTime>

#include <climits>

Moderation::Moderation(Lobby& lobby, Notifier& notifier, ServerConfig& config, StoreWorker& store)
    : lobby(lobby), notifier(notifier), config(config), store(store)
{
}

void Moderation::control(const QString& operatorName, const QStringList& words,
                         const std::function<void(const QStringList&)>& answer)
{
    const QString command = words.value(0);
    if (hasControlCharacters(words.mid(1).join(' ')))
        return answer({"error: control characters in the command"});
    if (command == "list" && words.size() == 1) {
        QStringList lines{"account\thandle\taddress\trooms"};
        for (const LobbyUser* user : lobby.onlineUsers()) {
            const Connection* connection = notifier.connection(user->id);
            QStringList rooms;
            for (const quint32 room : user->rooms)
                rooms << QString::number(room);
            lines << QStringList{user->account, user->handle,
                                 connection ? connection->peerText() : QString(), rooms.join(',')}
                         .join('\t');
        }
        return answer(lines);
    }
    if (command == "audit" && words.size() <= 2) {
        bool ok = words.size() == 1;
        const int newest = ok ? 20 : words[1].toInt(&ok);
        if (!ok || newest < 1)
            return answer({"error: audit takes the number of entries to show"});
        return store.run(
            this, [newest](Store& db) { return db.audit(newest); },
            [answer](const QVector<AuditEntry>& entries) {
                QStringList lines{"time\toperator\taction\ttarget\treason"};
                for (const AuditEntry& entry : entries)
                    lines << QStringList{QDateTime::fromSecsSinceEpoch(entry.at, Qt::UTC)
                                             .toString(Qt::ISODate),
                                         entry.operatorName, entry.action, entry.target,
                                         entry.reason}
                                 .join('\t');
                answer(lines);
            });
    }
    if (command == "bans" && words.size() == 1) {
        return store.run(
            this, [](Store& db) { return db.activeBans(QDateTime::currentSecsSinceEpoch()); },
            [answer](const QVector<Ban>& bans) {
                QStringList lines{"kind\ttarget\tuntil\treason"};
                for (const Ban& ban : bans)
                    lines << QStringList{ban.kind, ban.target,
                                         ban.until
                                             ? QDateTime::fromSecsSinceEpoch(ban.until, Qt::UTC)
                                                   .toString(Qt::ISODate)
                                             : QString("forever"),
                                         ban.reason}
                                 .join('\t');
                answer(lines);
            });
    }
    if (command == "ban" || command == "unban")
        return changeBan(operatorName, words, answer);
    const QStringList refused = moderate(words);
    if (refused.isEmpty())
        audit(operatorName, words);
    answer(refused);
}

QStringList Moderation::moderate(const QStringList& words)
{
    const QString command = words.value(0);
    const QString rest = words.mid(1).join(' ');
    if (command == "kick" && words.size() >= 2)
        return kick(words[1], words.mid(2).join(' '));
    if (command == "mute" && words.size() >= 3) {
        bool ok = false;
        const qint64 seconds = words[2].toLongLong(&ok);
        if (words[2] != "forever" && (!ok || seconds <= 0 || seconds > 86400LL * 3650))
            return {"error: mute needs SECONDS (1 to ten years) or forever"};
        lobby.mute(words[1], ok ? monotonicMs() + seconds * 1000 : LLONG_MAX);
        return {};
    }
    if (command == "unmute" && words.size() == 2) {
        if (!lobby.unmute(words[1]))
            return {"error: " + words[1] + " is not muted"};
        return {};
    }
    if (command == "message" && words.size() >= 2) {
        if (!checkUtf8Length(rest, TextLimit::globalMessage))
            return {"error: the message must be shorter than 288 bytes"};
        config.systemMessage = rest;
        lobby.setSystemMessage(rest);
        return {};
    }
    return {"error: commands are list, audit [N], kick ACCOUNT [REASON], mute ACCOUNT "
            "SECONDS|forever [REASON], unmute ACCOUNT, ban account|range TARGET SECONDS|forever "
            "[REASON], unban account|range TARGET, bans, message TEXT"};
}

void Moderation::changeBan(const QString& operatorName, const QStringList& words,
                           const std::function<void(const QStringList&)>& answer)
{
    const bool adding = words[0] == "ban";
    Ban ban{words.value(1), words.value(2), 0, words.mid(4).join(' ')};
    if (words.size() < (adding ? 4 : 3) || (!adding && words.size() > 3) ||
        !banTargetValid(ban.kind, ban.target))
        return answer({"error: " + words[0] + " takes account NAME or range ADDRESS/PREFIX" +
                       (adding ? ", then SECONDS or forever" : "")});
    if (adding) {
        bool ok = false;
        const qint64 seconds = words[3].toLongLong(&ok);
        if (words[3] != "forever" && (!ok || seconds <= 0 || seconds > 86400LL * 3650))
            return answer({"error: ban needs SECONDS (1 to ten years) or forever"});
        ban.until = ok ? QDateTime::currentSecsSinceEpoch() + seconds : 0;
    }
    store.run(
        this,
        [ban, adding](Store& db) {
            return adding ? int(db.addBan(ban)) : db.liftBans(ban.kind, ban.target);
        },
        [this, ban, adding, operatorName, words, answer](int done) {
            if (done == 0)
                return answer({adding ? QString("error: the ban was not stored")
                                      : "error: no ban on " + ban.kind + " " + ban.target});
            audit(operatorName, words);
            // Who is online under the ban leaves now; the login is refused from now on.
            if (adding) {
                for (const LobbyUser* user : lobby.onlineUsers()) {
                    Connection* connection = notifier.connection(user->id);
                    if (connection && ban.covers(user->account, connection->peerText()))
                        connection->closeWithNotice(CloseByOperator, "banned by an operator");
                }
            }
            answer({});
        });
}

void Moderation::audit(const QString& operatorName, const QStringList& words)
{
    // kick and mute name the account, then a reason (after mute's time); message has its text.
    // ban and unban name the kind first, and ban its time after the target.
    const QString action = words.value(0);
    const bool timed = action == "mute";
    const bool banning = action == "ban" || action == "unban";
    AuditEntry entry{QDateTime::currentSecsSinceEpoch(), operatorName,
                     timed     ? QString("mute %1").arg(words.value(2))
                     : banning ? QStringList(words.mid(0, 2) + words.mid(3, 1)).join(' ')
                               : action,
                     action == "message" ? QString() : words.value(banning ? 2 : 1),
                     words.mid(action == "message" ? 1
                               : banning           ? 4
                               : timed             ? 3
                                                   : 2)
                         .join(' ')};
    qInfo().noquote() << QString("control: %1 by %2: %3 %4")
                             .arg(entry.action, entry.operatorName, entry.target, entry.reason)
                             .trimmed();
    store.run(
        this, [entry](Store& db) { return db.addAudit(entry); },
        [](bool stored) {
            if (!stored)
                qWarning().noquote() << "control: the audit entry was not stored";
        });
}

QStringList Moderation::kick(const QString& account, const QString& reason)
{
    for (const LobbyUser* user : lobby.onlineUsers()) {
        if (user->account.compare(account, Qt::CaseInsensitive) != 0)
            continue;
        Connection* connection = notifier.connection(user->id);
        if (!connection)
            break;
        connection->closeWithNotice(CloseByOperator, "kicked by an operator" +
                                                         (reason.isEmpty() ? "" : ": " + reason));
        return {};
    }
    return {"error: " + account + " is not logged in"};
}
