// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ban.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <optional>

// A password as the store keeps it: a PBKDF2-SHA256 hash with its own salt and work factor.
struct StoredPassword {
    QByteArray hash;
    QByteArray salt;
    int iterations = 0;
};

struct Account {
    quint32 id = 0;
    QString name;
    StoredPassword password;
    QString mail;
    QString handle;
    bool admin = false;
};

// One operator's action on the running server, as the audit keeps it.
struct AuditEntry {
    qint64 at = 0; // seconds since the epoch
    QString operatorName;
    QString action;
    QString target;
    QString reason;
};

// The durable part of the lobby: accounts and pending registration keys. Errors are logged by
// the store; the answers then lean towards refusing (nothing found, nothing changed). A change
// is reported as made only once it is durable, so that nobody is told of an account that a
// restart would lose. Mail addresses compare without regard to ASCII letter case.
class Store
{
  public:
    virtual ~Store() = default;

    virtual std::optional<Account> accountByName(const QString& name) = 0;
    virtual std::optional<Account> accountById(quint32 id) = 0;
    virtual QVector<Account> accounts() = 0;
    // True when an account uses the address, and when the store cannot tell.
    virtual bool mailInUse(const QString& mail) = 0;
    // The new account's number, or 0 when the name or mail is taken or the store failed.
    virtual quint32 createAccount(const Account& account) = 0;
    // Takes back a creation whose news could not be sent; false when nothing was removed.
    virtual bool removeAccount(quint32 id) = 0;
    virtual bool setHandle(quint32 id, const QString& handle) = 0;
    virtual bool setMail(quint32 id, const QString& mail) = 0;
    virtual bool setPassword(quint32 id, const StoredPassword& password) = 0;
    virtual bool setAdmin(quint32 id, bool admin) = 0;

    // One key per address: a new key replaces the address's previous one. Times are seconds
    // since the epoch.
    virtual bool putRegistrationKey(const QString& mail, const QString& key, qint64 expiresAt) = 0;
    // The address of a key that is still valid, without using it up.
    virtual std::optional<QString> registrationMail(const QString& key, qint64 now) = 0;
    // Uses the key up and returns its address; nothing when it is unknown, used or expired.
    virtual std::optional<QString> takeRegistrationKey(const QString& key, qint64 now) = 0;

    // The moderation audit: every action appended, the newest first when read.
    virtual bool addAudit(const AuditEntry& entry) = 0;
    virtual QVector<AuditEntry> audit(int newest) = 0;

    // Bans: added, lifted (all of that kind and target; how many), and those in force at now.
    virtual bool addBan(const Ban& ban) = 0;
    virtual int liftBans(const QString& kind, const QString& target) = 0;
    virtual QVector<Ban> activeBans(qint64 now) = 0;

    // Whether the last call failed for the store's own reasons (not for what it found), so
    // that "nothing found" can be told from "the database is down".
    virtual bool lastCallFailed() const { return false; }
};
