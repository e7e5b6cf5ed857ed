// SPDX-License-Identifier: GPL-3.0-or-later
#include "accountservice.h"
#include "lobbyclient.h"
#include "sqlstore.h"
#include "outbox.h"
#include "serverconfig.h"
#include "storeworker.h"
#include "testserver.h"
#include "textchecks.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <sched.h>
#include <sys/mount.h>

// A small tmpfs on a folder. The test runs in a mount namespace of its own, so that the host's
// mounts never change and a test that dies takes its mounts along.
struct SmallDisk {
    explicit SmallDisk(const QString& folder) : folder(folder)
    {
        mounted = QDir().mkpath(folder) &&
                  mount("tmpfs", qPrintable(folder), "tmpfs", 0, "size=512k") == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            umount2(qPrintable(folder), MNT_DETACH);
    }

    // To the last page: nothing more can grow.
    bool fill()
    {
        QFile filler(folder + "/filler");
        const QByteArray page(4096, 'f');
        bool open = filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        while (open && filler.write(page) == page.size()) {
        }
        return open && filler.error() != QFileDevice::NoError;
    }

    bool makeReadOnly()
    {
        return mount("tmpfs", qPrintable(folder), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

    const QString folder;
    bool mounted = false;
};

using Answer = AccountService::Answer;

// The account service on SQLite, with alice (account 1, password "secret") and a registration
// key "key" for ann@example.org; one password thread, one job per address, two changes a minute.
// Alice's password takes a while to check, so that her login's job is still queued or running
// when the store has answered a second lookup.
// The database and the mails are in the folders given, else in one of its own.
struct Service {
    explicit Service(const QString& databaseFolder = {}, const QString& mailFolder = {})
        : database((databaseFolder.isEmpty() ? folder.path() : databaseFolder) + "/accounts.db"),
          outbox(mailFolder.isEmpty() ? folder.path() : mailFolder, config.mailFrom)
    {
    }

    QTemporaryDir folder;
    const QString database;
    ServerConfig config = [] {
        ServerConfig config;
        config.passwordIterations = config.passwordThreads = config.passwordJobsPerAddress = 1;
        config.accountChangesPerMinute = 2;
        return config;
    }();
    QString error;
    StoreWorker worker;
    const bool opened = worker.open(
        [this](QString& error) {
            std::unique_ptr<SqlStore> store = SqlStore::open("sqlite:" + database, error);
            const qint64 expires = QDateTime::currentSecsSinceEpoch() + 60;
            if (store &&
                !(store->createAccount({0, "alice", hashPassword("secret", 100000), "", "A"}) &&
                  store->putRegistrationKey("ann@example.org", "key", expires)))
                store.reset();
            return std::unique_ptr<Store>(std::move(store));
        },
        error);
    Outbox outbox;
    AddressGuard addressGuard{config.failedLoginsPerMinute, config.loginBanSeconds,
                              config.registrationMailsPerHour};
    AccountService accounts{config, worker, outbox, addressGuard};

    // The answer of a request, whether it came at once or later.
    template <class Start> Answer answer(Start start)
    {
        std::optional<Answer> later;
        const std::optional<Answer> now =
            start(AccountService::Waiter{[] { return true; }, [&](const Answer& a) { later = a; }});
        if (!now)
            (void)QTest::qWaitFor([&] { return later.has_value(); }, 5000);
        return now ? *now : later.value_or(Answer{99, {}, {}, {}});
    }

    // From another connection, the store's own statements then fail.
    bool breakStore()
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase("QSQLITE", database);
        raw.setDatabaseName(database);
        const bool broken = raw.open() && QSqlQuery(raw).exec("ALTER TABLE accounts RENAME TO x");
        raw.close();
        return broken;
    }
};
static const QString stranger = "192.0.2.1";

class ServerLoginsTest : public QObject
{
    Q_OBJECT

    TestServer server;
    bool mountable = false;

  private slots:
    // Small disks are mounted in a mount namespace of this test's own, so that the host's mounts
    // never change: without root, their cases are skipped.
    void initTestCase()
    {
        mountable = unshare(CLONE_NEWNS) == 0 &&
                    mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
        QVERIFY(server.launch("", {"carol"}));
    }

    void textChecks_data()
    {
        QTest::addColumn<bool>("mail"); // else a name
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        const auto row = [](const char* name, bool mail, const QString& text, bool accepted) {
            QTest::newRow(name) << mail << text << accepted;
        };
        row("mail", true, "a.b+c@mail.example.org", true);
        row("mail in Japanese", true, "はなこ@例え.jp", true);
        row("mail closing the address", true, "a@b.example>,<c.example", false);
        row("mail of two @", true, "a@b@c.example", false);
        row("mail without a dot-separated domain", true, "a@localhost", false);
        row("mail with an empty label", true, "a@b..example", false);
        row("mail with a hyphen-ended label", true, "a@b-.example", false);
        row("mail without a local part", true, "@b.example", false);
        row("mail with a space", true, "a b@c.example", false);
        row("mail with a quote", true, "\"a\"@b.example", false);
        row("mail with a C1 control", true, QStringLiteral("a\u0085@b.example"), false);
        row("name", false, "ゆき 2", true);
        row("name with a no-break space", false, QStringLiteral("a\u00a0b"), true);
        row("name with a tab", false, "a\tb", false);
        row("name with DEL", false, "a\x7f", false);
        row("name with the last C1 control", false, QStringLiteral("a\u009f"), false);
        row("name with a line separator", false, QStringLiteral("a\u2028b"), false);
    }

    void textChecks()
    {
        QFETCH(bool, mail);
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QCOMPARE(mail ? isUsableMail(text) : !hasControlCharacters(text), accepted);
    }

    // Four places, three jobs per key. A letter is a job of that key; upper case, of a key with
    // failed logins lately. Jobs start at once while a thread is free, but suspect keys leave
    // one to the others. With one thread, the jobs that ran are in the order they ran.
    void passwordQueue_data()
    {
        QTest::addColumn<int>("threads");
        QTest::addColumn<QString>("submitted");
        QTest::addColumn<int>("running");
        QTest::addColumn<QString>("refused");
        QTest::addColumn<QString>("run");
        const auto row = [](const char* name, int threads, const char* submitted, int running,
                            const char* refused, const char* run) {
            QTest::newRow(name) << threads << QString(submitted) << running << QString(refused)
                                << QString(run);
        };
        row("keys take turns", 1, "aaabc", 1, "", "aabca");
        row("suspect keys wait", 1, "aBBc", 1, "", "acBB");
        row("three jobs a key", 1, "aaaab", 1, "a", "aaba");
        row("four places", 1, "abcdef", 1, "f", "abcde");
        row("half of them for suspects", 1, "aBCDe", 1, "D", "aeBC");
        row("one thread serves suspects", 1, "A", 1, "", "A");
        row("two for the others", 2, "ab", 2, "", "ab");
        row("one of two for suspects", 2, "AB", 1, "", "AB");
        row("the other for the others", 2, "ABc", 2, "", "ABc");
        row("two of three for suspects", 3, "ABC", 2, "", "ABC");
    }

    void passwordQueue()
    {
        QFETCH(int, threads);
        QFETCH(QString, submitted);
        QFETCH(int, running);
        QFETCH(QString, refused);
        QFETCH(QString, run);
        PasswordQueue queue({threads, 4, 3});
        QString ran, turnedAway;
        for (QChar job : submitted) {
            if (!queue.submit(job.toLower(), job.isUpper(), {},
                              [&ran, job](const PasswordJobResult&) { ran += job; }))
                turnedAway += job;
        }
        QCOMPARE(queue.runningJobs(), running);
        QCOMPARE(turnedAway, refused);
        QTRY_COMPARE(queue.jobs(), 0);
        if (threads > 1)
            std::sort(ran.begin(), ran.end());
        QCOMPARE(ran, run);
    }

    // Store jobs run in the order they came, also those whose context has gone meanwhile (a
    // registration is not left half done); only their answers are dropped.
    void storeJobsOutliveTheirContext()
    {
        Service service;
        StoreWorker& worker = service.worker;
        QObject here;
        auto* gone = new QObject;
        QString ran, answered;
        for (QChar job : QString("abc"))
            worker.run(
                job == 'b' ? gone : &here,
                [&ran, job](Store&) {
                    ran += job;
                    return job;
                },
                [&answered](QChar job) { answered += job; });
        delete gone;
        worker.finishAll();
        QCOMPARE(ran, "abc");
        QCOMPARE(answered, "ac");
    }

    // Two failures a minute; then locks of 1 s, doubling up to 4 s. The account logged in from
    // "usual" before the failures, at the times given in ms.
    void accountLock_data()
    {
        QTest::addColumn<QList<int>>("failures");
        QTest::addColumn<bool>("unlocked"); // by the operator, after the failures
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("locked");
        const QList<int> three{0, 0, 0}, four{0, 0, 0, 1000}, six{0, 0, 0, 1000, 3000, 7000};
        QTest::newRow("two failures") << QList<int>{0, 0} << false << 0 << stranger << false;
        QTest::newRow("the third locks") << three << false << 999 << stranger << true;
        QTest::newRow("for a second") << three << false << 1000 << stranger << false;
        QTest::newRow("the next lock doubles") << four << false << 2999 << stranger << true;
        QTest::newRow("for two seconds") << four << false << 3000 << stranger << false;
        QTest::newRow("up to the cap") << six << false << 10999 << stranger << true;
        QTest::newRow("and no further") << six << false << 11000 << stranger << false;
        QTest::newRow("not from the usual address") << three << false << 0 << "usual" << false;
        QTest::newRow("lifted by the operator") << three << true << 0 << stranger << false;
    }

    void accountLock()
    {
        QFETCH(QList<int>, failures);
        QFETCH(bool, unlocked);
        QFETCH(int, at);
        QFETCH(QString, from);
        QFETCH(bool, locked);
        AccountGuard guard({2, 60000, 1000, 4000, 1});
        guard.recordSuccess("alice", "usual", 0);
        for (int failure : failures)
            guard.recordFailure("alice", failure);
        if (unlocked)
            guard.unlock("alice", at);
        QCOMPARE(guard.isLocked("alice", from, at), locked);
    }

    void loginAnswers_data()
    {
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("storeDown");
        QTest::addColumn<bool>("queueFull"); // alice's login from the same address is queued
        QTest::addColumn<quint32>("result");
        QTest::addColumn<int>("hashes");
        QTest::addColumn<bool>("counted"); // toward the address's failed logins
        const auto row = [](const char* name, const char* account, const char* password,
                            bool storeDown, bool queueFull, quint32 result, int hashes,
                            bool counted) {
            QTest::newRow(name) << QString(account) << QString(password) << storeDown << queueFull
                                << result << hashes << counted;
        };
        row("right", "alice", "secret", false, false, 0, 1, false);
        row("wrong", "alice", "wrong", false, false, 1, 1, true);
        // The time of the answer must not tell which accounts exist.
        row("unknown account", "nobody", "secret", false, false, 1, 1, true);
        row("store down", "alice", "secret", true, false, 1, 0, false);
        row("queue full", "alice", "secret", false, true, 1, 1, false);
    }

    void loginAnswers()
    {
        QFETCH(QString, account);
        QFETCH(QString, password);
        QFETCH(bool, storeDown);
        QFETCH(bool, queueFull);
        QFETCH(quint32, result);
        QFETCH(int, hashes);
        QFETCH(bool, counted);
        Service service;
        QVERIFY(service.opened && (!storeDown || service.breakStore()));
        const quint64 before = passwordDerivations();
        if (queueFull)
            QVERIFY(!service.accounts.login(stranger, "alice", "secret",
                                            {[] { return true; }, [](const Answer&) {}}));
        const Answer answer = service.answer([&](AccountService::Waiter waiter) {
            return service.accounts.login(stranger, account, password, waiter);
        });
        QTRY_VERIFY(!service.accounts.hasPendingJobs());
        QCOMPARE(answer.result, result);
        QCOMPARE(passwordDerivations() - before, quint64(hashes));
        QCOMPARE(service.addressGuard.failedLately(stranger, monotonicMs()), counted);
    }

    // Two changes a minute, of the handle name and mail address together; a refused one
    // changes nothing.
    void changesAreLimited_data()
    {
        QTest::addColumn<QStringList>("changes"); // a handle name, or an address with '@'
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<QString>("stored"); // handle name and address
        const QStringList names{"ア", "イ", "ウ"};
        QTest::newRow("handle names") << names << QList<int>{0, 0, 1} << "イ ";
        QTest::newRow("addresses") << QStringList{"a@x.example", "b@x.example", "c@x.example"}
                                   << QList<int>{0, 0, 1} << "A b@x.example";
        QTest::newRow("both") << QStringList{"ア", "b@x.example", "ウ"} << QList<int>{0, 0, 1}
                              << "ア b@x.example";
        QTest::newRow("own address spelled anew")
            << QStringList{"a@x.example", "A@x.example"} << QList<int>{0, 0} << "A A@x.example";
        QTest::newRow("after a bad one")
            << QStringList{"\x1b"} + names << QList<int>{1, 0, 0, 1} << "イ ";
    }

    void changesAreLimited()
    {
        QFETCH(QStringList, changes);
        QFETCH(QList<int>, results);
        Service service;
        QList<int> answered;
        for (const QString& change : changes) {
            answered.append(int(service
                                    .answer([&](AccountService::Waiter waiter) {
                                        return change.contains('@')
                                                   ? service.accounts.changeMail(1, change, waiter)
                                                   : service.accounts.changeHandle(1, change,
                                                                                   waiter);
                                    })
                                    .result));
        }
        QCOMPARE(answered, results);
        const Account stored = service
                                   .answer([&](AccountService::Waiter waiter) {
                                       return service.accounts.lookUp(1, waiter);
                                   })
                                   .account.value_or(Account{});
        QTEST(stored.handle + ' ' + stored.mail, "stored");
    }

    // Another process holds SQLite's write lock. Carol's handle change waits for it, and her
    // lookup of her own name waits behind the change: the new name once the lock is released,
    // the old one once the busy timeout refused the change. Meanwhile a new client's hello and
    // her other requests are answered well within that timeout.
    void storeLockedElsewhere_data()
    {
        QTest::addColumn<bool>("released");
        QTest::newRow("released") << true;
        QTest::newRow("held past the busy timeout") << false;
    }

    void storeLockedElsewhere()
    {
        QFETCH(bool, released);
        LobbyClient carol, newcomer;
        carol.connectToServer("127.0.0.1", server.port());
        quint32 id = 0;
        QString before, name;
        carol.authenticate("carol", "secret", [&](const LoginReply& reply) { id = reply.userId; });
        QTRY_VERIFY(id);
        carol.getName(id, [&](quint32, const QString& found) { before = found; });
        QTRY_VERIFY(!before.isEmpty());
        QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", QTest::currentDataTag());
        holder.setDatabaseName(server.data.filePath("tileparlor.db"));
        const auto unlock = qScopeGuard([&] { holder.close(); });
        QVERIFY(holder.open() && QSqlQuery(holder).exec("BEGIN EXCLUSIVE"));
        std::optional<quint32> rooms;
        QVERIFY(carol.setName(QTest::currentDataTag()));
        carol.getCount([&](quint32 count) { rooms = count; });
        carol.getName(id, [&](quint32, const QString& found) { name = found; });
        newcomer.connectToServer("127.0.0.1", server.port());
        QTRY_VERIFY_WITH_TIMEOUT(rooms && newcomer.isOpen(), 1000);
        QVERIFY(name.isEmpty());
        if (released)
            QVERIFY(QSqlQuery(holder).exec("ROLLBACK"));
        QTRY_COMPARE(name, released ? QTest::currentDataTag() : before);
    }

    // Full and read-only disks under the store and the outbox: nothing is reported as done that
    // is not on the disk, not even an empty or a half-written mail, and a start that cannot write
    // says where.
    void fullDiskFailsTheRequest_data()
    {
        QTest::addColumn<bool>("withKey"); // RegisterKey with a stored key, else RegisterMail
        QTest::addColumn<QStringList>("full");
        for (const bool withKey : {false, true})
            for (const QStringList& full :
                 {QStringList{"database"}, {"outbox"}, {"database", "outbox"}})
                QTest::addRow("%s, full %s", withKey ? "RegisterKey" : "RegisterMail",
                              qPrintable(full.join(" and ")))
                    << withKey << full;
    }

    void fullDiskFailsTheRequest()
    {
        QFETCH(bool, withKey);
        QFETCH(QStringList, full);
        if (!mountable)
            QSKIP("needs root, for a mount namespace of its own");
        QTemporaryDir data;
        SmallDisk disk(data.filePath("disk"));
        const auto folder = [&](const QString& name) {
            return data.filePath(full.contains(name) ? "disk/" + name : name);
        };
        QVERIFY(disk.mounted && QDir().mkpath(folder("database")));
        Answer answer;
        {
            Service service(folder("database"), folder("outbox"));
            QVERIFY(service.opened && disk.fill());
            answer = service.answer([&](AccountService::Waiter waiter) {
                return withKey
                           ? service.accounts.registerKey("127.0.0.1", "key", waiter)
                           : service.accounts.registerMail("127.0.0.1", "bob@example.org", waiter);
            });
        }
        QCOMPARE(answer.result, 1u);
        QCOMPARE(QDir(folder("outbox")).entryList(QDir::Files | QDir::Hidden), QStringList());
        // With room on the disk again, the store opened anew has no account of that address.
        QString error;
        const auto store =
            QFile::remove(disk.folder + "/filler")
                ? SqlStore::open("sqlite:" + folder("database") + "/accounts.db", error)
                : nullptr;
        QVERIFY(store && !store->mailInUse("ann@example.org"));
    }

    void readOnlyFolderStopsTheStart_data()
    {
        QTest::addColumn<QString>("folder"); // in the data folder
        QTest::newRow("data folder") << "";
        QTest::newRow("outbox") << "outbox";
    }

    void readOnlyFolderStopsTheStart()
    {
        QFETCH(QString, folder);
        if (!mountable)
            QSKIP("needs root, for a mount namespace of its own");
        TestServer starting;
        SmallDisk disk(QDir::cleanPath(starting.data.filePath(folder)));
        QString error;
        QVERIFY(disk.mounted && starting.writeConfig("") && disk.makeReadOnly());
        QVERIFY(!starting.start(error));
        QVERIFY2(error.contains("folder " + disk.folder + " is not writable"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(ServerLoginsTest)
#include "tst_serverlogins.moc"
