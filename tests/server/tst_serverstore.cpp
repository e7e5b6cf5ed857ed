#include "passwords.h"
#include "sqlstore.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

// The account store, on SQLite, or on the database that TILEPARLOR_TEST_DATABASE names
// (CTest runs it again on PostgreSQL in a throwaway cluster). The PostgreSQL database
// is shared by all tests, so each test uses names of its own.
class ServerStoreTest : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;
    const qint64 now = QDateTime::currentSecsSinceEpoch();

    QString location() const
    {
        const QString given = qEnvironmentVariable("TILEPARLOR_TEST_DATABASE");
        return given.isEmpty() ? "sqlite:" + folder.filePath(QTest::currentTestFunction()) + ".db"
                               : given;
    }

    std::unique_ptr<SqlStore> open()
    {
        QString error;
        std::unique_ptr<SqlStore> store = SqlStore::open(location(), error);
        if (!store)
            qWarning().noquote() << error;
        return store;
    }

    static Account account(const QString& name, const QString& mail)
    {
        return {0, name, StoredPassword{QByteArray(32, 'h'), QByteArray(16, 's'), 100000}, mail,
                name.toUpper()};
    }

  private slots:
    // A hash stored by earlier versions of the server still matches its password, and only it.
    void storedHashesStillMatch()
    {
        QByteArray salt;
        for (char byte = 0; byte < 16; ++byte)
            salt += byte;
        const StoredPassword stored{
            QByteArray::fromHex("a872982402c6ba1ce74f61d25f194f11103082f65263732c45baa17a00ef4d10"),
            salt, 100000};
        QVERIFY(passwordMatches("合言葉 secret", stored));
        QVERIFY(!passwordMatches("合言葉 secreT", stored));
        QVERIFY(passwordMatches("秘密", hashPassword("秘密", 1000)));
    }

    void accountsAndTheirChanges()
    {
        std::unique_ptr<SqlStore> store = open();
        QVERIFY(store);
        const quint32 id = store->createAccount(account("ann", "ann@example.org"));
        // Names and addresses are unique; accounts without an address do not collide.
        QVERIFY(id && store->createAccount(account("nomail1", "")) &&
                store->createAccount(account("nomail2", "")));
        QVERIFY(!store->createAccount(account("ann", "other@example.org")) &&
                !store->createAccount(account("ann2", "ann@example.org")));
        const StoredPassword renewed{QByteArray(32, 'n'), QByteArray(16, 't'), 200000};
        QVERIFY(store->setHandle(id, "アン") && store->setMail(id, "ann@example.net") &&
                store->setPassword(id, renewed) && store->setAdmin(id, true));
        // What is written survives the store being opened again.
        store.reset();
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
        const std::unique_ptr<SqlStore> store = open();
        QVERIFY(store);
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

    void newerSchemaIsRefused()
    {
        QVERIFY(open());
        const bool sqlite = location().startsWith("sqlite:");
        const QString newer = QString::number(SqlStore::currentSchemaVersion() + 1);
        {
            QSqlDatabase raw = QSqlDatabase::addDatabase(sqlite ? "QSQLITE" : "QPSQL", "raw");
            raw.setDatabaseName(sqlite ? location().mid(7) : QString());
            QVERIFY(
                raw.open() &&
                QSqlQuery(raw).exec("INSERT INTO schema_version (version) VALUES (" + newer + ")"));
            QString error;
            QVERIFY(!SqlStore::open(location(), error));
            QVERIFY2(error.contains("schema version " + newer), qPrintable(error));
            // The PostgreSQL database outlives the test.
            QVERIFY(QSqlQuery(raw).exec("DELETE FROM schema_version WHERE version = " + newer));
        }
        QSqlDatabase::removeDatabase("raw");
    }
};

QTEST_GUILESS_MAIN(ServerStoreTest)
#include "tst_serverstore.moc"
