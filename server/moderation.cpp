#include "moderation.h"

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
            "SECONDS|forever [REASON], unmute ACCOUNT, message TEXT"};
}

void Moderation::audit(const QString& operatorName, const QStringList& words)
{
    // kick and mute name the account, then a reason (after mute's time); message has its text.
    const QString action = words.value(0);
    const bool timed = action == "mute";
    AuditEntry entry{QDateTime::currentSecsSinceEpoch(), operatorName,
                     timed ? QString("mute %1").arg(words.value(2)) : action,
                     action == "message" ? QString() : words.value(1),
                     words.mid(action == "message" ? 1
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
