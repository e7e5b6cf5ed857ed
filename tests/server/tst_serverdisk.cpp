#include "accountservice.h"
#include "addressguard.h"
#include "locallobbyserver.h"
#include "outbox.h"
#include "serverconfig.h"
#include "sqlstore.h"
#include "storeworker.h"

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

// Full and read-only disks under the store and the outbox: nothing is reported as done that is
// not on the disk, and a start that cannot write says where.
class ServerDiskTest : public QObject
{
    Q_OBJECT

    ServerConfig config;

  private slots:
    void initTestCase()
    {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr))
            QSKIP(qPrintable("needs a mount namespace of its own to mount small disks (root, or "
                             "CAP_SYS_ADMIN): " +
                             qt_error_string(errno)));
        config.passwordIterations = 1000;
    }

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
        QTemporaryDir data;
        SmallDisk disk(data.filePath("disk"));
        const auto folder = [&](const QString& name) {
            return data.filePath(full.contains(name) ? "disk/" + name : name);
        };
        const QString database = "sqlite:" + folder("database") + "/accounts.db";
        QString error;
        QVERIFY(disk.mounted && QDir().mkpath(folder("database")));
        Outbox outbox(folder("outbox"), config.mailFrom);
        AddressGuard guard(1, 1, 1);
        std::optional<AccountService::Answer> answer;
        {
            StoreWorker worker;
            QVERIFY(worker.open(
                [&](QString& error) -> std::unique_ptr<Store> {
                    std::unique_ptr<SqlStore> opened = SqlStore::open(database, error);
                    const qint64 expires = QDateTime::currentSecsSinceEpoch() + 60;
                    if (opened && !opened->putRegistrationKey("ann@example.org", "key", expires))
                        opened.reset();
                    return opened;
                },
                error));
            AccountService accounts(config, worker, outbox, guard);
            QVERIFY(disk.fill());
            const AccountService::Waiter waiter{
                [] { return true; }, [&](const AccountService::Answer& done) { answer = done; }};
            answer = withKey ? accounts.registerKey("127.0.0.1", "key", waiter)
                             : accounts.registerMail("127.0.0.1", "bob@example.org", waiter);
            QTRY_VERIFY(answer);
        }
        QCOMPARE(answer->result, 1u);
        // Not even an empty or a half-written mail.
        QCOMPARE(QDir(folder("outbox")).entryList(QDir::Files | QDir::Hidden), QStringList());
        // No account after a restart, with room on the disk again.
        std::unique_ptr<SqlStore> store;
        QVERIFY(QFile::remove(disk.folder + "/filler") &&
                (store = SqlStore::open(database, error)));
        if (withKey)
            QCOMPARE(store->accounts().size(), 0);
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
        QTemporaryDir data;
        SmallDisk disk(QDir::cleanPath(data.filePath(folder)));
        LocalLobbyServer server(SERVER_PROGRAM, data.path());
        QString error;
        QVERIFY(disk.mounted && server.writeConfig("") && disk.makeReadOnly());
        QVERIFY(!server.start(error));
        QVERIFY2(error.contains("folder " + disk.folder + " is not writable"), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(ServerDiskTest)
#include "tst_serverdisk.moc"
