// SPDX-License-Identifier: GPL-3.0-or-later
#include "passwords.h"
#include "sqlstore.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

// The account store, on SQLite, or on the database that TILEPARLOR_TEST_DATABASE names
// (CTest runs it again on PostgreSQL in a throwaway cluster). The PostgreSQL database
// is shared by all tests, so each test uses names of its own. Each test starts with the store
// open.
class ServerStoreTest : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    std::unique_ptr<SqlStore> store;

    QString location() const
    {
        const QString given = qEnvironmentVariable("TILEPARLOR_TEST_DATABASE");
        return given.isEmpty() ? "sqlite:" + folder.filePath(QTest::currentTestFunction()) + ".db"
                               : given;
    }

    std::unique_ptr<SqlStore> open()
    {
        QString error;
        std::unique_ptr<SqlStore> opened = SqlStore::open(location(), error);
        if (!opened)
            qWarning().noquote() << error;
        return opened;
    }

    // A connection of its own to the database, past the store.
    QSqlDatabase raw()
    {
        const bool sqlite = location().startsWith("sqlite:");
        QSqlDatabase raw = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", "raw");
        raw.setDatabaseName(sqlite ? location().mid(7) : QString());
        raw.open();
        return raw;
    }

    static Account account(const QString& name, const QString& mail)
    {
        return {0, name, StoredPassword{QByteArray(32, 'h'), QByteArray(16, 's'), 100000}, mail,
                name.toUpper()};
    }

  private slots:
    void init() { QVERIFY(store = open()); }

    // A hash stored by earlier versions of the server still matches its password, and only it.
    void storedHashesStillMatch()
    {
        const StoredPassword stored{
            QByteArray::fromHex("a872982402c6ba1ce74f61d25f194f11103082f65263732c45baa17a00ef4d10"),
            QByteArray::fromHex("000102030405060708090a0b0c0d0e0f"), 100000};
        QVERIFY(passwordMatches("合言葉 secret", stored));
        QVERIFY(!passwordMatches("合言葉 secreT", stored));
    }

    void accountsAndTheirChanges()
    {
        const quint32 id = store->createAccount(account("ann", "ann@example.org"));
        // Names and addresses are unique; accounts without an address do not collide.
        QVERIFY(id && store->createAccount(account("nomail1", "")) &&
                store->createAccount(account("nomail2", "")));
        QVERIFY(!store->createAccount(account("ann", "other@example.org")) &&
                !store->createAccount(account("ann2", "ann@example.org")));
        const StoredPassword renewed{QByteArray(32, 'n'), QByteArray(16, 't'), 200000};
        QVERIFY(store->setHandle(id, "アン") && store->setMail(id, "ann@example.net") &&
                store->setPassword(id, renewed) && store->setAdmin(id, true));
        // What is written survives the store being opened again. On SQLite with
        // synchronous=NORMAL, a power cut may lose a change already answered.
        store.reset();
        if (location().startsWith("sqlite:"))
            QTest::ignoreMessage(QtInfoMsg, "store: SQLite journal wal, synchronous full");
        store = open();
        QVERIFY(store && store->schemaVersion() == SqlStore::currentSchemaVersion());
        const std::optional<Account> read = store->accountById(id);
        QVERIFY(read && read->admin && store->accountByName("ann")->id == id);
        const StoredPassword& kept = read->password;
        QCOMPARE(
            QStringList({read->name, read->handle, read->mail, kept.hash + kept.salt,
                         QString::number(kept.iterations)}),
            QStringList({"ann", "アン", "ann@example.net", renewed.hash + renewed.salt, "200000"}));
        QVERIFY(store->mailInUse("ann@example.net") && !store->mailInUse("ann@example.org"));
    }

    void registrationKeysAreUsedOnce()
    {
        QVERIFY(store->putRegistrationKey("key@example.org", "first", now + 3600));
        QCOMPARE(store->registrationMail("first", now), QString("key@example.org"));
        // A new key for the same address replaces the old one.
        QVERIFY(store->putRegistrationKey("key@example.org", "second", now + 3600));
        QVERIFY(!store->registrationMail("first", now));
        QCOMPARE(store->takeRegistrationKey("second", now), QString("key@example.org"));
        QVERIFY(!store->takeRegistrationKey("second", now));
        QVERIFY(store->putRegistrationKey("late@example.org", "expired", now + 10));
        QVERIFY(!store->registrationMail("expired", now + 10));
        QVERIFY(!store->takeRegistrationKey("expired", now + 10));
    }

    // The moderation audit reads back newest first, each entry whole.
    void auditKeepsEveryAction()
    {
        const AuditEntry kick{now, "root", "kick", "bob", "spam, again"};
        const AuditEntry mute{now + 1, "ops", "mute 60", "ann", ""};
        QVERIFY(store->addAudit(kick) && store->addAudit(mute));
        const QVector<AuditEntry> newest = store->audit(1), all = store->audit(10);
        QVERIFY(newest.size() == 1 && newest[0].action == mute.action && all.size() == 2);
        const AuditEntry& read = all[1];
        QCOMPARE(
            QStringList({read.operatorName, read.target, read.reason, QString::number(read.at)}),
            QStringList({kick.operatorName, kick.target, kick.reason, QString::number(kick.at)}));
    }

    // Bans in force: until a time or for good, not once lifted; each covers its account or range.
    void bansInForce()
    {
        for (const Ban& ban :
             {Ban{"account", "Eve", 0, "spam"}, Ban{"range", "10.1.0.0/16", now + 60, ""},
              Ban{"range", "2001:db8::/32", now - 1, ""}, Ban{"account", "mal", 0, ""}})
            QVERIFY(store->addBan(ban));
        QCOMPARE(store->liftBans("account", "MAL"), 1);
        const QVector<Ban> active = store->activeBans(now);
        QCOMPARE(active.size(), 2);
        QVERIFY(active[0].covers("eve", "192.0.2.1") && active[0].reason == "spam");
        QVERIFY(active[1].covers("anyone", "10.1.2.3") && !active[1].covers("anyone", "10.2.0.1"));
        QVERIFY(!active[0].covers("evelyn", "10.1.2.3"));
    }

    // Addresses compare without regard to ASCII letter case. Of two accounts from before that
    // share one so, the older keeps it; the other keeps working without.
    void addressesIgnoreLetterCase()
    {
        {
            QSqlQuery query(raw());
            for (const char* statement :
                 {"DROP INDEX accounts_mail_folded", "DROP TABLE moderation_audit",
                  "DROP TABLE bans", "DELETE FROM schema_version WHERE version > 1",
                  "INSERT INTO accounts (name, password_hash, password_salt, password_iterations, "
                  "mail, created_at) VALUES ('twin1', '', '', 1, 'Twin@Example.org', 0), "
                  "('twin2', '', '', 1, 'twin@example.ORG', 0)"})
                QVERIFY2(query.exec(statement), qPrintable(query.lastError().text()));
        }
        QSqlDatabase::removeDatabase("raw");
        QTest::ignoreMessage(QtInfoMsg, "store: account twin2, address twin@example.ORG: cleared, "
                                        "an older account has it in other letter case");
        QVERIFY(store = open());
        const std::optional<Account> twin2 = store->accountByName("twin2");
        QVERIFY(twin2 && twin2->mail.isEmpty());
        QCOMPARE(store->accountByName("twin1")->mail, QString("Twin@Example.org"));
        QVERIFY(store->mailInUse("TWIN@example.org"));
        QVERIFY(!store->createAccount(account("twin3", "twin@EXAMPLE.org")) &&
                !store->setMail(twin2->id, "twin@example.org"));
        // One key per address, however written.
        QVERIFY(store->putRegistrationKey("Twin@example.net", "twin-key1", now + 60) &&
                store->putRegistrationKey("twin@EXAMPLE.net", "twin-key2", now + 60));
        QVERIFY(!store->registrationMail("twin-key1", now));
    }

    void newerSchemaIsRefused()
    {
        const QString newer = QString::number(SqlStore::currentSchemaVersion() + 1);
        {
            QSqlQuery query(raw());
            QVERIFY(query.exec("INSERT INTO schema_version (version) VALUES (" + newer + ")"));
            QString error;
            QVERIFY(!SqlStore::open(location(), error));
            QVERIFY2(error.contains("schema version " + newer), qPrintable(error));
            // The PostgreSQL database outlives the test.
            QVERIFY(query.exec("DELETE FROM schema_version WHERE version = " + newer));
        }
        QSqlDatabase::removeDatabase("raw");
    }
};

QTEST_GUILESS_MAIN(ServerStoreTest)
#include "tst_serverstore.moc"
