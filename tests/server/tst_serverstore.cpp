#include "sqlstore.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

// The account store, on SQLite, or on the database that TILEPARLOR_TEST_DATABASE names
// (run-pg-store-test.sh sets it to PostgreSQL in a throwaway cluster). The PostgreSQL database
// is shared by all tests, so each test uses names of its own.
class ServerStoreTest : public QObject
{
    Q_OBJECT

    QTemporaryDir folder;

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
        Account made;
        made.name = name;
        made.mail = mail;
        made.handle = name.toUpper();
        made.password = StoredPassword{QByteArray(32, 'h'), QByteArray(16, 's'), 100000};
        return made;
    }

    static const qint64 now;

  private slots:
    void accountsAndTheirChanges()
    {
        const std::unique_ptr<SqlStore> store = open();
        QVERIFY(store);
        const quint32 id = store->createAccount(account("ann", "ann@example.org"));
        QVERIFY(id != 0);
        QCOMPARE(store->createAccount(account("ann", "other@example.org")), 0u);
        QCOMPARE(store->createAccount(account("ann2", "ann@example.org")), 0u);
        // Accounts without an address do not collide.
        QVERIFY(store->createAccount(account("nomail1", "")) != 0);
        QVERIFY(store->createAccount(account("nomail2", "")) != 0);
        QVERIFY(store->mailInUse("ann@example.org"));
        QVERIFY(!store->mailInUse("nobody@example.org"));

        const StoredPassword renewed{QByteArray(32, 'n'), QByteArray(16, 't'), 200000};
        QVERIFY(store->setHandle(id, "アン"));
        QVERIFY(store->setMail(id, "ann@example.net"));
        QVERIFY(store->setPassword(id, renewed));
        QVERIFY(store->setAdmin(id, true));
        const std::optional<Account> read = store->accountByName("ann");
        QVERIFY(read);
        QCOMPARE(read->id, id);
        QCOMPARE(read->handle, QString("アン"));
        QCOMPARE(read->mail, QString("ann@example.net"));
        QCOMPARE(read->password.hash, renewed.hash);
        QCOMPARE(read->password.salt, renewed.salt);
        QCOMPARE(read->password.iterations, renewed.iterations);
        QVERIFY(read->admin);
        QCOMPARE(store->accountById(id)->name, QString("ann"));
        QVERIFY(!store->accountById(999999));
        QVERIFY(!store->mailInUse("ann@example.org"));
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

    void reopeningKeepsTheAccounts()
    {
        quint32 id = 0;
        {
            const std::unique_ptr<SqlStore> store = open();
            QVERIFY(store);
            id = store->createAccount(account("kept", "kept@example.org"));
            QVERIFY(id != 0);
        }
        const std::unique_ptr<SqlStore> store = open();
        QVERIFY(store);
        QCOMPARE(store->schemaVersion(), SqlStore::currentSchemaVersion());
        QCOMPARE(store->accountByName("kept")->id, id);
    }

    void newerSchemaIsRefused()
    {
        QVERIFY(open());
        const QString newer = QString::number(SqlStore::currentSchemaVersion() + 1);
        auto setVersion = [this](const QString& statement) {
            QSqlDatabase raw = location().startsWith("sqlite:")
                                   ? QSqlDatabase::addDatabase("QSQLITE", "raw")
                                   : QSqlDatabase::addDatabase("QPSQL", "raw");
            if (location().startsWith("sqlite:"))
                raw.setDatabaseName(location().mid(7));
            QVERIFY(raw.open());
            QVERIFY(QSqlQuery(raw).exec(statement));
            raw.close();
            raw = QSqlDatabase();
            QSqlDatabase::removeDatabase("raw");
        };
        setVersion("INSERT INTO schema_version (version) VALUES (" + newer + ")");
        QString error;
        QVERIFY(!SqlStore::open(location(), error));
        QVERIFY2(error.contains("schema version " + newer), qPrintable(error));
        setVersion("DELETE FROM schema_version WHERE version = " + newer);
    }
};

const qint64 ServerStoreTest::now = QDateTime::currentSecsSinceEpoch();

QTEST_GUILESS_MAIN(ServerStoreTest)
#include "tst_serverstore.moc"
