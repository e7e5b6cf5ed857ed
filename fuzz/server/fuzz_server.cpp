// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds arbitrary bytes, as one client's side of a connection, into the server's frame decoder
// and request dispatcher, in process and without sockets. A second, well-behaved user hosts a
// recruit in the game room, so that requests aimed at other users' matches find one. After each
// input both connections end and the lobby must be back to its permanent rooms alone.
//
// Input: byte 0 holds options, the rest is what the client sends.
//   bit 0: pass the hello and log in as the "fuzz" account first;
//   bits 1-2: how the bytes arrive: all at once, or in pieces of 1, 3 or 64 bytes.

#include "connection.h"
#include "lobby.h"
#include "accountservice.h"
#include "addressguard.h"
#include "metrics.h"
#include "notifier.h"
#include "outbox.h"
#include "passwords.h"
#include "requestdispatcher.h"
#include "sqlstore.h"
#include "storeworker.h"
#include "lobbyrequests.h"

#include <QCoreApplication>
#include <QDir>
#include <QPointer>
#include <QTemporaryDir>

#include <cstdlib>

namespace
{

// Takes the server's output and checks that every write is one whole frame within the limit.
class MemoryTransport : public Transport
{
  public:
    void write(const QByteArray& bytes) override
    {
        FieldReader in(bytes);
        const quint32 length = in.u32();
        if (!isValidFrameLength(length) || length != quint32(bytes.size() - lengthPrefix))
            std::abort();
    }
    qint64 unsentBytes() const override { return 0; }
    void closeAfterFlush() override {}
    void abort() override {}
};

ServerConfig fuzzConfig()
{
    ServerConfig config;
    // The fuzzer would spend its time in the hash; the work factor does not change the logic.
    config.passwordIterations = 1;
    config.connectionCountIntervalMs = 0;
    // Limits are per address and account, and every input comes from the same ones: one
    // input's failed logins, mails or changes must not bar the next input's.
    config.failedLoginsPerMinute = 1000000;
    config.registrationMailsPerHour = 1000000;
    config.lockAfterFailures = 1000000;
    config.accountChangesPerMinute = 1000000;
    config.permanentRooms = {PermanentRoom{"chat", "", 100, chatOnlyGameId},
                             PermanentRoom{"game", "", 100, 0}};
    return config;
}

struct Harness {
    int argc = 1;
    char name[16] = "fuzz_server";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir folder;
    ServerConfig config = fuzzConfig();
    StoreWorker store;
    bool opened = openStore(store);
    Outbox outbox{folder.filePath("outbox"), config.mailFrom};
    Metrics metrics;
    Notifier notifier;
    Lobby lobby{config, notifier};
    AddressGuard addressGuard{config.failedLoginsPerMinute, config.loginBanSeconds,
                              config.registrationMailsPerHour};
    AccountService accounts{config, store, outbox, addressGuard};
    RequestDispatcher dispatcher{lobby, notifier, accounts};
    quint64 serial = 0;
    quint64 runs = 0;

    Harness()
    {
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    }

    // The database in memory belongs to the store's thread, which makes the accounts too.
    static bool openStore(StoreWorker& store)
    {
        QString error;
        const bool opened = store.open(
            [](QString& error) -> std::unique_ptr<Store> {
                std::unique_ptr<SqlStore> opened = SqlStore::open("sqlite::memory:", error);
                for (const char* account : {"fuzz", "host"}) {
                    Account made;
                    made.name = account;
                    made.password = hashPassword(account, 1);
                    if (opened)
                        opened->createAccount(made);
                }
                return opened;
            },
            error);
        if (!opened)
            std::abort();
        return opened;
    }

    Connection* connect()
    {
        auto* connection =
            new Connection(++serial, QHostAddress("::ffff:127.0.0.1"),
                           std::make_unique<MemoryTransport>(), dispatcher, metrics, config);
        QObject::connect(connection, &Connection::ended, connection, [this](Connection* ended) {
            dispatcher.connectionEnded(*ended);
            ended->deleteLater();
        });
        return connection;
    }

    // Lets the password work finish and the ended connections go.
    void settle()
    {
        while (accounts.hasPendingJobs())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

QByteArray helloBytes()
{
    return FrameWriter::clientHello().toByteArray();
}

// The harness's accounts have their names as passwords.
QByteArray loginBytes(const QString& account)
{
    return helloBytes() + frameBytes(AuthenticateRequest{account, account});
}

// The accounts the harness creates, in order.
constexpr quint32 hostId = 2;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Harness harness;
    if (size == 0)
        return 0;
    const uint8_t options = data[0];
    const QByteArrayView input(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));

    // The host needs no fuzzing of its own: it passes the hello and joins the lobby directly.
    QPointer<Connection> host = harness.connect();
    host->receive(helloBytes());
    host->setUserId(hostId);
    harness.notifier.attach(hostId, *host);
    LobbyUser& hostUser = harness.lobby.login(hostId, "host", "HOST", false);
    if (harness.lobby.enterRoom(hostUser, 1, {}) != EnterResult::Entered ||
        !harness.lobby.recruit(hostUser, 1).isEmpty())
        std::abort();

    QPointer<Connection> client = harness.connect();
    if (options & 1) {
        client->receive(loginBytes("fuzz"));
        harness.settle();
    }
    static const qsizetype pieces[] = {0, 1, 3, 64};
    const qsizetype piece = pieces[(options >> 1) & 3];
    for (qsizetype at = 0; at < input.size() && client && !client->isEnded();) {
        const qsizetype length = piece ? qMin(piece, input.size() - at) : input.size();
        client->receive(input.sliced(at, length));
        at += length;
    }
    harness.settle();

    for (Connection* connection : {client.data(), host.data()}) {
        if (connection)
            connection->transportEnded("end of input");
    }
    harness.settle();
    // Nothing may outlive its users: no user, no match, only the permanent rooms.
    if (harness.lobby.userCount() != 0 || harness.lobby.matchCount() != 0 ||
        harness.lobby.roomCount() != 2 || client || host)
        std::abort();
    if (++harness.runs % 1000 == 0)
        QDir(harness.folder.filePath("outbox")).removeRecursively();
    return 0;
}
