#include "accountservice.h"
#include "lobbyclient.h"
#include "locallobbyserver.h"
#include "outbox.h"
#include "serverconfig.h"
#include "storeworker.h"
#include "textchecks.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

// Accounts in memory, for the rules of the account service: the store can go down, and its
// writes are counted.
class MemoryStore : public Store
{
  public:
    QVector<Account> kept;
    bool down = false;
    int writes = 0;

    std::optional<Account> accountByName(const QString& name) override
    {
        return find([&](const Account& account) { return account.name == name; });
    }
    std::optional<Account> accountById(quint32 id) override
    {
        return find([&](const Account& account) { return account.id == id; });
    }
    QVector<Account> accounts() override { return down ? QVector<Account>() : kept; }
    bool mailInUse(const QString& mail) override
    {
        // Without regard to letter case, as the real store compares addresses.
        return down || find([&](const Account& account) {
                   return account.mail.compare(mail, Qt::CaseInsensitive) == 0;
               });
    }
    quint32 createAccount(const Account& account) override
    {
        if (!write())
            return 0;
        kept.append(account);
        return kept.last().id = quint32(kept.size());
    }
    bool removeAccount(quint32 id) override
    {
        return write() && kept.removeIf([id](const Account& account) { return account.id == id; });
    }
    bool setHandle(quint32 id, const QString& handle) override
    {
        return change(id, &Account::handle, handle);
    }
    bool setMail(quint32 id, const QString& mail) override
    {
        return change(id, &Account::mail, mail);
    }
    bool setPassword(quint32 id, const StoredPassword& password) override
    {
        return change(id, &Account::password, password);
    }
    bool setAdmin(quint32 id, bool admin) override { return change(id, &Account::admin, admin); }
    bool putRegistrationKey(const QString&, const QString&, qint64) override { return write(); }
    std::optional<QString> registrationMail(const QString&, qint64) override { return {}; }
    std::optional<QString> takeRegistrationKey(const QString&, qint64) override { return {}; }
    bool lastCallFailed() const override { return down; }

  private:
    template <class Match> std::optional<Account> find(Match match)
    {
        for (const Account& account : kept) {
            if (!down && match(account))
                return account;
        }
        return std::nullopt;
    }
    bool write()
    {
        ++writes;
        return !down;
    }
    template <class Value> bool change(quint32 id, Value Account::*field, const Value& value)
    {
        if (!write() || id == 0 || id > quint32(kept.size()))
            return false;
        kept[id - 1].*field = value;
        return true;
    }
};

using Answer = AccountService::Answer;

// The account service on a store in memory, with alice (password "secret") in it; one password
// thread, one job per address, two changes a minute.
struct Service {
    static ServerConfig settings()
    {
        ServerConfig config;
        config.passwordIterations = 1;
        config.passwordThreads = 1;
        config.passwordJobsPerAddress = 1;
        config.accountChangesPerMinute = 2;
        return config;
    }

    ServerConfig config = settings();
    MemoryStore store;
    const quint32 alice = store.createAccount({0, "alice", hashPassword("secret", 1), "", "A"});
    StoreWorker worker{store};
    QTemporaryDir folder;
    Outbox outbox{folder.path(), config.mailFrom};
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
};
#define EXPECT_LOG(text) QTRY_VERIFY(server.log().contains(text))
static const QString stranger = "192.0.2.1";

class ServerLoginsTest : public QObject
{
    Q_OBJECT

    QTemporaryDir data;
    LocalLobbyServer server{SERVER_PROGRAM, data.path()};

    // The login's result, from a connection that comes from that loopback address.
    quint32 login(const QString& from, const QString& account, const QString& password)
    {
        LobbyClient client;
        client.connectToServer("127.0.0.1", server.port(), QHostAddress(from));
        std::optional<quint32> result;
        client.authenticate(account, password,
                            [&](const LoginReply& reply) { result = reply.result; });
        (void)QTest::qWaitFor([&] { return result.has_value(); }, 10000);
        return result.value_or(99);
    }

  private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(server.writeConfig("[accounts]\nlockAfterFailures=1\n") &&
                     server.createAccounts({{"bob", "secret", "BOB"}, {"carol", "secret", "C"}},
                                           error) &&
                     server.start(error),
                 qPrintable(error));
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
        MemoryStore store;
        StoreWorker worker(store);
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
        service.store.down = storeDown;
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

    // Two changes a minute, of the handle name and mail address together; a refused one costs
    // no write.
    void changesAreLimited_data()
    {
        QTest::addColumn<QStringList>("changes"); // a handle name, or an address with '@'
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<int>("writes");
        QTest::newRow("handle names") << QStringList{"ア", "イ", "ウ"} << QList<int>{0, 0, 1} << 2;
        QTest::newRow("addresses")
            << QStringList{"a@x.example", "b@x.example", "c@x.example"} << QList<int>{0, 0, 1} << 2;
        QTest::newRow("both") << QStringList{"ア", "b@x.example", "ウ"} << QList<int>{0, 0, 1} << 2;
        QTest::newRow("own address spelled anew")
            << QStringList{"a@x.example", "A@x.example"} << QList<int>{0, 0} << 2;
        QTest::newRow("after a bad one")
            << QStringList{"\x1b", "ア", "イ", "ウ"} << QList<int>{1, 0, 0, 1} << 2;
    }

    void changesAreLimited()
    {
        QFETCH(QStringList, changes);
        QFETCH(QList<int>, results);
        QFETCH(int, writes);
        Service service;
        service.store.writes = 0;
        QList<int> answered;
        for (const QString& change : changes) {
            const Answer answer = service.answer([&](AccountService::Waiter waiter) {
                return change.contains('@')
                           ? service.accounts.changeMail(service.alice, change, waiter)
                           : service.accounts.changeHandle(service.alice, change, waiter);
            });
            answered.append(int(answer.result));
        }
        QCOMPARE(answered, results);
        QCOMPARE(service.store.writes, writes);
    }

    void createAccountRefusesControls_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("handle");
        QTest::newRow("newline in the name") << "carol\nadmin"
                                             << "C";
        QTest::newRow("C1 control in the handle") << "carol" << QStringLiteral("C\u009b31m");
    }

    void createAccountRefusesControls()
    {
        QFETCH(QString, name);
        QFETCH(QString, handle);
        QString error;
        QVERIFY(!server.createAccounts({{name, "secret", handle}}, error));
        QVERIFY2(error.contains("control characters"), qPrintable(error));
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
        holder.setDatabaseName(data.filePath("tileparlor.db"));
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

    // Failed logins lock bob (one a minute is allowed) until the operator lifts the lock of the
    // running server. Whom a lock spares is the guard's, above.
    void lockedAccountAndItsOperator()
    {
        QCOMPARE(login("127.0.0.1", "bob", "wrong"), 1u);
        QCOMPARE(login("127.0.0.1", "bob", "wrong"), 1u);
        QCOMPARE(login("127.0.0.1", "bob", "secret"), 1u);
        EXPECT_LOG("refused: login: account locked after failed logins: bob");
        QProcess unlock;
        unlock.start(SERVER_PROGRAM, {"--data", data.path(), "--config",
                                      data.filePath("server.ini"), "unlock-account", "bob"});
        QVERIFY(unlock.waitForFinished() && unlock.exitCode() == 0);
        EXPECT_LOG("account bob: failed logins forgotten and lock lifted");
        QCOMPARE(login("127.0.0.1", "bob", "secret"), 0u);
    }
};

QTEST_GUILESS_MAIN(ServerLoginsTest)
#include "tst_serverlogins.moc"
