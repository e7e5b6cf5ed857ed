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
    template <class... Parameters, class... Arguments>
    Answer ask(std::optional<Answer> (AccountService::*request)(Parameters...),
               const Arguments&... arguments)
    {
        std::optional<Answer> later;
        const std::optional<Answer> now = (accounts.*request)(
            arguments...,
            AccountService::Waiter{[] { return true; }, [&](const Answer& a) { later = a; }});
        if (!now)
            (void)QTest::qWaitFor([&] { return later.has_value(); }, 5000);
        return now ? *now : later.value_or(Answer{99, {}, {}, {}});
    }

    // From another connection, the store's own statements then fail.
    bool breakStore()
    {
        QSqlDatabase raw = QSqlDatabase::addDatabase("QSQLITE", database);
        raw.setDatabaseName(database);
        return raw.open() && QSqlQuery(raw).exec("ALTER TABLE accounts RENAME TO x");
    }
};
static const QString stranger = "192.0.2.1";

// A mail address (else a name), the text, and whether the server takes it.
using Text = std::tuple<bool, QString, bool>;
// Threads; the jobs submitted; the jobs then running; those turned away; those that ran.
using QueueCase = std::tuple<int, QString, int, QString, QString>;
// Failures at their times in ms; unlocked by the operator after them; the time of the check;
// the address it comes from; whether the account is locked.
using LockCase = std::tuple<QList<int>, bool, int, QString, bool>;
// Account, password; the store down; alice's login from the same address queued first; the
// result; passwords hashed; whether it counts toward the address's failed logins.
using LoginCase = std::tuple<QString, QString, bool, bool, quint32, int, bool>;
// The changes in order (a handle name, or an address with '@'), their results, and the handle
// name and address then stored.
using Changes = std::tuple<QStringList, QList<int>, QString>;

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

    // Mail addresses, then names, that the server takes and that it refuses.
    void textChecks_data()
    {
        QTest::addColumn<Text>("row");
        const auto rows = [](bool mail, bool accepted, const QStringList& texts) {
            for (const QString& text : texts)
                QTest::addRow("%s %s", mail ? "mail" : "name",
                              qPrintable(text.toUtf8().toPercentEncoding(" @<>,\"+")))
                    << Text{mail, text, accepted};
        };
        rows(true, true, {"a.b+c@mail.example.org", "はなこ@例え.jp"});
        // Closing the address, two @, no dot-separated domain, an empty label, a label ended by a
        // hyphen, no local part, a space, a quote, a C1 control.
        rows(true, false,
             {"a@b.example>,<c.example", "a@b@c.example", "a@localhost", "a@b..example",
              "a@b-.example", "@b.example", "a b@c.example", "\"a\"@b.example",
              "a\u0085@b.example"});
        // A no-break space is no control.
        rows(false, true, {"ゆき 2", "a\u00a0b"});
        // A tab, DEL, the last C1 control, a line separator.
        rows(false, false, {"a\tb", "a\x7f", "a\u009f", "a\u2028b"});
    }

    void textChecks()
    {
        QFETCH(Text, row);
        const auto& [mail, text, accepted] = row;
        QCOMPARE(mail ? isUsableMail(text) : !hasControlCharacters(text), accepted);
    }

    // Four places, three jobs per key. A letter is a job of that key; upper case, of a key with
    // failed logins lately. Jobs start at once while a thread is free, but suspect keys leave
    // one to the others. With one thread, the jobs that ran are in the order they ran.
    void passwordQueue_data()
    {
        QTest::addColumn<QueueCase>("row");
        QTest::newRow("keys take turns") << QueueCase{1, "aaabc", 1, "", "aabca"};
        QTest::newRow("suspect keys wait") << QueueCase{1, "aBBc", 1, "", "acBB"};
        QTest::newRow("three jobs a key") << QueueCase{1, "aaaab", 1, "a", "aaba"};
        QTest::newRow("four places") << QueueCase{1, "abcdef", 1, "f", "abcde"};
        QTest::newRow("half of them for suspects") << QueueCase{1, "aBCDe", 1, "D", "aeBC"};
        QTest::newRow("one thread serves suspects") << QueueCase{1, "A", 1, "", "A"};
        QTest::newRow("two for the others") << QueueCase{2, "ab", 2, "", "ab"};
        QTest::newRow("one of two for suspects") << QueueCase{2, "AB", 1, "", "AB"};
        QTest::newRow("the other for the others") << QueueCase{2, "ABc", 2, "", "ABc"};
        QTest::newRow("two of three for suspects") << QueueCase{3, "ABC", 2, "", "ABC"};
    }

    void passwordQueue()
    {
        QFETCH(QueueCase, row);
        const auto& [threads, submitted, running, refused, run] = row;
        PasswordQueue queue({threads, 4, 3});
        QString ran, turnedAway;
        for (QChar job : submitted)
            if (!queue.submit(job.toLower(), job.isUpper(), {},
                              [&ran, job](const PasswordJobResult&) { ran += job; }))
                turnedAway += job;
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
        QObject here;
        auto* gone = new QObject;
        QString ran, answered;
        for (QChar job : QString("abc"))
            service.worker.run(
                job == 'b' ? gone : &here, [&ran, job](Store&) { return (ran += job).back(); },
                [&answered](QChar job) { answered += job; });
        delete gone;
        service.worker.finishAll();
        QCOMPARE(ran, "abc");
        QCOMPARE(answered, "ac");
    }

    // Two failures a minute; then locks of 1 s, doubling up to 4 s. The account logged in from
    // "usual" before the failures, at the times given in ms.
    void accountLock_data()
    {
        QTest::addColumn<LockCase>("row");
        const QList<int> three{0, 0, 0}, four{0, 0, 0, 1000}, six{0, 0, 0, 1000, 3000, 7000};
        QTest::newRow("two failures") << LockCase{{0, 0}, false, 0, stranger, false};
        QTest::newRow("the third locks") << LockCase{three, false, 999, stranger, true};
        QTest::newRow("for a second") << LockCase{three, false, 1000, stranger, false};
        QTest::newRow("the next lock doubles") << LockCase{four, false, 2999, stranger, true};
        QTest::newRow("for two seconds") << LockCase{four, false, 3000, stranger, false};
        QTest::newRow("up to the cap") << LockCase{six, false, 10999, stranger, true};
        QTest::newRow("and no further") << LockCase{six, false, 11000, stranger, false};
        QTest::newRow("not from the usual address") << LockCase{three, false, 0, "usual", false};
        QTest::newRow("lifted by the operator") << LockCase{three, true, 0, stranger, false};
    }

    void accountLock()
    {
        QFETCH(LockCase, row);
        const auto& [failures, unlocked, at, from, locked] = row;
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
        QTest::addColumn<LoginCase>("row");
        QTest::newRow("right") << LoginCase{"alice", "secret", false, false, 0, 1, false};
        QTest::newRow("wrong") << LoginCase{"alice", "wrong", false, false, 1, 1, true};
        // The time of the answer must not tell which accounts exist.
        QTest::newRow("unknown account") << LoginCase{"nobody", "secret", false, false, 1, 1, true};
        QTest::newRow("store down") << LoginCase{"alice", "secret", true, false, 1, 0, false};
        QTest::newRow("queue full") << LoginCase{"alice", "secret", false, true, 1, 1, false};
    }

    void loginAnswers()
    {
        QFETCH(LoginCase, row);
        const auto& [account, password, storeDown, queueFull, result, hashes, counted] = row;
        Service service;
        QVERIFY(service.opened && (!storeDown || service.breakStore()));
        const quint64 before = passwordDerivations();
        if (queueFull)
            QVERIFY(!service.accounts.login(stranger, "alice", "secret",
                                            {[] { return true; }, [](const Answer&) {}}));
        const Answer answer = service.ask(&AccountService::login, stranger, account, password);
        QTRY_VERIFY(!service.accounts.hasPendingJobs());
        QCOMPARE(answer.result, result);
        QCOMPARE(passwordDerivations() - before, quint64(hashes));
        QCOMPARE(service.addressGuard.failedLately(stranger, monotonicMs()), counted);
    }

    // Two changes a minute, of the handle name and mail address together; a refused one
    // changes nothing.
    void changesAreLimited_data()
    {
        QTest::addColumn<Changes>("row");
        const QStringList names{"ア", "イ", "ウ"},
            mails{"a@x.example", "b@x.example", "c@x.example"};
        QTest::newRow("handle names") << Changes{names, {0, 0, 1}, "イ "};
        QTest::newRow("addresses") << Changes{mails, {0, 0, 1}, "A b@x.example"};
        QTest::newRow("both") << Changes{{"ア", "b@x.example", "ウ"}, {0, 0, 1}, "ア b@x.example"};
        QTest::newRow("own address spelled anew")
            << Changes{{"a@x.example", "A@x.example"}, {0, 0}, "A A@x.example"};
        QTest::newRow("after a bad one")
            << Changes{QStringList{"\x1b"} + names, {1, 0, 0, 1}, "イ "};
    }

    void changesAreLimited()
    {
        QFETCH(Changes, row);
        const auto& [changes, results, stored] = row;
        Service service;
        QList<int> answered;
        for (const QString& change : changes)
            answered.append(int(service
                                    .ask(change.contains('@') ? &AccountService::changeMail
                                                              : &AccountService::changeHandle,
                                         1, change)
                                    .result));
        QCOMPARE(answered, results);
        const Account account = service.ask(&AccountService::lookUp, 1).account.value_or(Account{});
        QCOMPARE(account.handle + ' ' + account.mail, stored);
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
            answer =
                service.ask(withKey ? &AccountService::registerKey : &AccountService::registerMail,
                            "127.0.0.1", withKey ? "key" : "bob@example.org");
        }
        QCOMPARE(answer.result, 1u);
        QCOMPARE(QDir(folder("outbox")).entryList(QDir::Files | QDir::Hidden), QStringList());
        // With room on the disk again, the store opened anew has no account of that address.
        QVERIFY(QFile::remove(disk.folder + "/filler"));
        QString error;
        const auto store = SqlStore::open("sqlite:" + folder("database") + "/accounts.db", error);
        QVERIFY(store && !store->mailInUse("ann@example.org"));
    }

    // The data folder, then the outbox in it.
    void readOnlyFolderStopsTheStart()
    {
        if (!mountable)
            QSKIP("needs root, for a mount namespace of its own");
        for (const QString folder : {"", "outbox"}) {
            TestServer starting;
            SmallDisk disk(QDir::cleanPath(starting.data.filePath(folder)));
            QString error;
            QVERIFY(disk.mounted && starting.writeConfig(""));
            QVERIFY(!mount("tmpfs", qPrintable(disk.folder), "tmpfs", MS_REMOUNT | MS_RDONLY, 0));
            QVERIFY(!starting.start(error));
            QVERIFY2(error.contains(disk.folder + " is not writable"), qPrintable(error));
        }
    }
};

QTEST_GUILESS_MAIN(ServerLoginsTest)
#include "tst_serverlogins.moc"
