// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobbyserver.h"

#include "addressgroup.h"
#include "connection.h"
#include "processfigures.h"
#include "lobbywire.h"
#include "prometheustext.h"
#include "serverconfig.h"
#include "storeworker.h"
#include "tlsidentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSslSocket>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
constexpr int firstAcceptRetryMs = 50;
constexpr int lastAcceptRetryMs = 2000;
// Accepted in one go at most, so that a flood of connections leaves the clients' requests
// their turn.
constexpr int acceptBatch = 256;
// Descriptors that clients never get: the database, the outbox and the sanitizers need some
// of their own, and a server that has handed out the last one can no longer store an account.
constexpr int spareDescriptors = 16;

// A field of /proc/self/status in bytes ("VmRSS:   1234 kB").
double statusBytes(const QByteArray& field)
{
    QFile file("/proc/self/status");
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).replace("kB", "").trimmed().toDouble() * 1024;
    }
    return 0;
}

int descriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur > rlim_t(INT_MAX))
        return INT_MAX;
    return int(limit.rlim_cur);
}
} // namespace

LobbyServer::LobbyServer(ServerConfig& config, StoreWorker& store, Outbox& outbox)
    : config(config), storeFigures(store.figures()), lobby(config, notifier),
      addressGuard(config.failedLoginsPerMinute, config.loginBanSeconds,
                   config.registrationMailsPerHour),
      accounts(config, store, outbox, addressGuard), dispatcher(lobby, notifier, accounts),
      reaper(config.closeLingerSeconds * 1000), moderator(lobby, notifier, config, store)
{
    connect(&reaper, &SocketReaper::allClosed, this, &LobbyServer::finishShutdownWhenIdle);
    connect(&metricsTimer, &QTimer::timeout, this, &LobbyServer::logMetrics);
    metricsTimer.start(config.metricsIntervalSeconds * 1000);
    // Deadlines are whole seconds: one look a second at every connection is precise enough
    // and costs no timer per connection.
    connect(&deadlineTimer, &QTimer::timeout, this, &LobbyServer::checkDeadlines);
    deadlineTimer.start(1000);
    acceptRetry.setSingleShot(true);
    connect(&acceptRetry, &QTimer::timeout, this, [this] {
        if (incoming)
            incoming->setEnabled(true);
    });
}

LobbyServer::~LobbyServer()
{
    accounts.waitForJobs();
    qDeleteAll(connections);
}

bool LobbyServer::loadTls(QString& error)
{
    if (config.tlsCertificate.isEmpty()) {
        if (config.tlsRequired) {
            error = "tls/required needs tls/certificate and tls/key (or --tls-cert and --tls-key)";
            return false;
        }
        tls.reset();
        return true;
    }
    const std::optional<QSslConfiguration> loaded =
        loadTlsIdentity(config.tlsCertificate, config.tlsKey, error);
    if (!loaded)
        return false;
    tls = loaded;
    return true;
}

bool LobbyServer::listen(const QHostAddress& address, quint16 port)
{
    // A restart brings every client back at once: the kernel's queue holds such a burst
    // until it is accepted.
    tcp.setListenBacklogSize(1024);
    if (!tcp.listen(address, port))
        return false;
    maxClientDescriptor = descriptorLimit() - spareDescriptors;
    // Out of descriptors, QTcpServer (Qt 6.4) was seen to retry accept() at once and forever,
    // without acceptError, spinning a core, and at other times to stop accepting for good. So
    // it only listens, and the server accepts from the descriptor itself.
    tcp.pauseAccepting();
    incoming = std::make_unique<QSocketNotifier>(QSocketNotifier::Read);
    connect(incoming.get(), &QSocketNotifier::activated, this, &LobbyServer::acceptPending);
    incoming->setSocket(tcp.socketDescriptor());
    incoming->setEnabled(true);
    return true;
}

QString LobbyServer::refusalFor(const QString& group) const
{
    if (stopping)
        return "shutting down";
    if (perGroup.value(group) >= config.connectionsPerAddress)
        return "too many connections from its network";
    if (metrics.notLoggedIn >= config.connectionsBeforeLogin)
        return "too many connections not logged in";
    return {};
}

void LobbyServer::acceptPending()
{
    for (int i = 0; i < acceptBatch && incoming; ++i) {
        const int descriptor =
            ::accept4(int(tcp.socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (descriptor < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                return pauseAccepting(QString::fromLocal8Bit(std::strerror(errno)));
            // The queue is empty (or the error is the client's): a shortage is over once the
            // clients that waited in the queue have all been taken.
            if (acceptBackoffMs > 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                qInfo().noquote() << "accepting connections again";
                acceptBackoffMs = 0;
            }
            return;
        }
        // Descriptors are handed out lowest first: this one being high, all below are taken.
        if (descriptor >= maxClientDescriptor) {
            ::close(descriptor);
            metrics.countRefusal("out of descriptors");
            return pauseAccepting(QString("descriptor %1 of %2 reached")
                                      .arg(descriptor)
                                      .arg(maxClientDescriptor + spareDescriptors));
        }
        QTcpSocket* socket = tls ? new QSslSocket : new QTcpSocket;
        if (tls)
            static_cast<QSslSocket*>(socket)->setSslConfiguration(*tls);
        if (socket->setSocketDescriptor(descriptor)) {
            accept(socket);
        } else {
            ::close(descriptor);
            delete socket;
        }
    }
}

void LobbyServer::accept(QTcpSocket* socket)
{
    const QHostAddress peer = socket->peerAddress();
    const QString group = addressGroup(peer, config.ipv4GroupPrefix);
    if (const QString why = refusalFor(group); !why.isEmpty())
        return refuseConnection(socket, group, why);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto transport = std::make_unique<TcpTransport>(socket, reaper);
    TcpTransport* tcpTransport = transport.get();
    auto* connection =
        new Connection(++lastSerial, peer, std::move(transport), dispatcher, metrics, config);
    connect(connection, &Connection::ended, this, &LobbyServer::connectionEnded);
    connections.insert(connection);
    ++perGroup[connection->addressGroup()];
    connection->log("opened");
    tcpTransport->attach(connection);
}

void LobbyServer::refuseConnection(QTcpSocket* socket, const QString& group, const QString& why)
{
    metrics.countRefusal(why);
    if (connectionRefusals.isEmpty())
        refusalSummaryDueMs = monotonicMs() + qint64(config.refusalSummarySeconds) * 1000;
    if (connectionRefusals.count("connection: " + why))
        qInfo().noquote() << QString("refused connection from %1 (%2): %3")
                                 .arg(addressText(socket->peerAddress()), group, why);
    socket->abort();
    socket->deleteLater();
}

void LobbyServer::pauseAccepting(const QString& why)
{
    incoming->setEnabled(false);
    if (acceptBackoffMs == 0) {
        ++metrics.acceptPauses;
        acceptBackoffMs = firstAcceptRetryMs;
        qWarning().noquote() << QString("accepting paused with %1 connections open: %2")
                                    .arg(connections.size())
                                    .arg(why);
    } else {
        acceptBackoffMs = qMin(acceptBackoffMs * 2, lastAcceptRetryMs);
    }
    acceptRetry.start(acceptBackoffMs);
}

void LobbyServer::connectionEnded(Connection* connection)
{
    dispatcher.connectionEnded(*connection);
    const QString group = connection->addressGroup();
    if (--perGroup[group] <= 0)
        perGroup.remove(group);
    connections.remove(connection);
    connection->deleteLater();
    // Its descriptor is free (or about to be): the clients in the queue need not wait out the
    // back-off.
    if (acceptRetry.isActive())
        acceptRetry.start(0);
    finishShutdownWhenIdle();
}

void LobbyServer::checkDeadlines()
{
    const qint64 now = monotonicMs();
    // The connections that end meanwhile leave the set only from the event loop.
    for (Connection* connection : std::as_const(connections))
        connection->checkDeadlines(now);
    if (!connectionRefusals.isEmpty() && now >= refusalSummaryDueMs) {
        for (const QString& line : connectionRefusals.flush())
            qInfo().noquote() << line;
    }
}

void LobbyServer::reloadConfig(const QString& path, bool required)
{
    if (stopping)
        return;
    ServerConfig read;
    QString error;
    if (required && !QFileInfo::exists(path))
        error = "no configuration file " + path;
    if (!error.isEmpty() || !loadServerConfig(path, read, error)) {
        qWarning().noquote() << "configuration not reloaded, the running one stays:" << error;
        return;
    }
    const QString message = config.systemMessage;
    const ServerConfig before = config;
    const QStringList kept = adoptLiveSettings(config, read);
    qInfo().noquote() << "configuration reloaded from" << path;
    // Certificates are renewed in place: the files are read again even when their names stay.
    if (QString tlsError; !loadTls(tlsError)) {
        config.tlsCertificate = before.tlsCertificate;
        config.tlsKey = before.tlsKey;
        config.tlsRequired = before.tlsRequired;
        qWarning().noquote() << "TLS settings not reloaded, the running ones stay:" << tlsError;
    }
    if (!kept.isEmpty())
        qInfo().noquote() << "changes that wait for a restart:" << kept.join(", ");
    metricsTimer.setInterval(config.metricsIntervalSeconds * 1000);
    if (config.systemMessage != message)
        lobby.setSystemMessage(config.systemMessage);
}

void LobbyServer::shutdown()
{
    if (stopping)
        return;
    stopping = true;
    qInfo().noquote() << QString("shutting down: closing %1 connections").arg(connections.size());
    incoming.reset();
    tcp.close();
    metricsTimer.stop();
    acceptRetry.stop();
    for (Connection* connection : std::as_const(connections)) {
        if (connection->isOpen())
            connection->closeWithNotice(CloseServerShutdown, "server shutting down");
        else
            connection->close("server shutting down before the hello");
    }
    finishShutdownWhenIdle();
}

void LobbyServer::finishShutdownWhenIdle()
{
    if (!stopping || hasStopped || !connections.isEmpty() || reaper.lingering() > 0)
        return;
    hasStopped = true;
    logMetrics();
    emit stopped();
}

void LobbyServer::logMetrics()
{
    addressGuard.forgetOld(monotonicMs());
    qInfo().noquote() << QString("metrics connections=%1 users=%2 rooms=%3 matches=%4 "
                                 "framesIn=%5 framesOut=%6 refusals=%7 notLoggedIn=%8 "
                                 "timeouts=%9 offenders=%10 acceptPauses=%11")
                             .arg(connections.size())
                             .arg(lobby.userCount())
                             .arg(lobby.roomCount())
                             .arg(lobby.matchCount())
                             .arg(metrics.framesIn)
                             .arg(metrics.framesOut)
                             .arg(metrics.refusals)
                             .arg(metrics.notLoggedIn)
                             .arg(metrics.timeouts)
                             .arg(metrics.offenders)
                             .arg(metrics.acceptPauses);
}

QByteArray LobbyServer::metricsReport() const
{
    int beforeHello = 0;
    int beforeLogin = 0;
    for (const Connection* connection : connections) {
        if (connection->isEnded())
            continue;
        if (!connection->isOpen())
            ++beforeHello;
        else if (!connection->isLoggedIn())
            ++beforeLogin;
    }
    PrometheusText out;
    out.family("tileparlor_connections", "gauge", "Open client connections by state.");
    out.sample(beforeHello, {{"state", "before_hello"}});
    out.sample(beforeLogin, {{"state", "before_login"}});
    out.sample(connections.size() - beforeHello - beforeLogin, {{"state", "logged_in"}});
    out.gauge("tileparlor_users", "Users logged in.", lobby.userCount());
    out.gauge("tileparlor_rooms", "Rooms open.", lobby.roomCount());
    out.gauge("tileparlor_matches", "Matches recruiting or running.", lobby.matchCount());
    out.family("tileparlor_logins_total", "counter", "Logins answered, by outcome.");
    for (auto outcome = accounts.loginOutcomes().cbegin();
         outcome != accounts.loginOutcomes().cend(); ++outcome)
        out.sample(double(outcome.value()), {{"outcome", outcome.key()}});
    out.gauge("tileparlor_password_jobs", "Password checks waiting or running.",
              accounts.passwordJobsQueued());
    out.family("tileparlor_password_check_seconds", "histogram",
               "Password checks and hashes from queueing to result, in seconds.");
    accounts.passwordJobSeconds().write(out);
    static const QString operations[] = {"read", "write"};
    out.family("tileparlor_store_operation_seconds", "histogram",
               "Store reads (a statement) and writes (a transaction), in seconds.");
    for (const auto operation : {StoreFigures::Read, StoreFigures::Write})
        storeFigures.seconds[operation].write(out, {{"operation", operations[operation]}});
    out.family("tileparlor_store_errors_total", "counter",
               "Store reads and writes that failed, by operation.");
    for (const auto operation : {StoreFigures::Read, StoreFigures::Write})
        out.sample(double(storeFigures.errors[operation].load(std::memory_order_relaxed)),
                   {{"operation", operations[operation]}});
    out.counter("tileparlor_chat_deliveries_total", "Chat lines delivered, one per member reached.",
                double(lobby.chatDeliveries()));
    out.counter("tileparlor_frames_received_total", "Frames read from clients.", metrics.framesIn);
    out.counter("tileparlor_frames_sent_total", "Frames written to clients.", metrics.framesOut);
    // The request codes' names as the wire library spells them.
    static const QHash<quint32, const char*> requestNames = {{Quit, "Quit"},
                                                             {GlobalMessage, "GlobalMessage"},
                                                             {RegisterMail, "RegisterMail"},
                                                             {RegisterKey, "RegisterKey"},
                                                             {Authenticate, "Authenticate"},
                                                             {SetPassword, "SetPassword"},
                                                             {GetName, "GetName"},
                                                             {SetName, "SetName"},
                                                             {GetMail, "GetMail"},
                                                             {SetMail, "SetMail"},
                                                             {GetCount, "GetCount"},
                                                             {GetRoomInfo, "GetRoomInfo"},
                                                             {CreateRoom, "CreateRoom"},
                                                             {EnterRoom, "EnterRoom"},
                                                             {LeaveRoom, "LeaveRoom"},
                                                             {Speak, "Speak"},
                                                             {RecruitMatch, "RecruitMatch"},
                                                             {CancelRecruit, "CancelRecruit"},
                                                             {ApplyMatch, "ApplyMatch"},
                                                             {CancelApply, "CancelApply"},
                                                             {StartBattle, "StartBattle"},
                                                             {EndBattle, "EndBattle"},
                                                             {DropBattle, "DropBattle"}};
    out.family("tileparlor_requests_total", "counter", "Requests taken, by request.");
    for (auto request = metrics.requests.cbegin(); request != metrics.requests.cend(); ++request)
        out.sample(double(request.value()),
                   {{"request", QString(requestNames.value(request.key(), "other"))}});
    out.family("tileparlor_refusals_total", "counter",
               "Requests and connections refused, by kind.");
    for (auto refusal = metrics.refusalsByKind.cbegin(); refusal != metrics.refusalsByKind.cend();
         ++refusal)
        out.sample(double(refusal.value()), {{"kind", refusal.key()}});
    out.family("tileparlor_limit_hits_total", "counter",
               "Refusals for a limit of the server, by the limit's setting.");
    for (auto limit = metrics.limitHits.cbegin(); limit != metrics.limitHits.cend(); ++limit)
        out.sample(double(limit.value()), {{"limit", limit.key()}});
    out.sample(double(metrics.offenders), {{"limit", "refusalsPerMinute"}});
    out.counter("tileparlor_deadline_disconnects_total",
                "Connections ended by a deadline: hello, login or an unfinished frame.",
                metrics.timeouts);
    out.counter("tileparlor_slow_reader_disconnects_total",
                "Connections ended because their client stopped reading.", metrics.slowReaders);
    out.counter("tileparlor_offender_disconnects_total",
                "Connections ended for too many refusals a minute.", metrics.offenders);
    out.counter("tileparlor_accept_pauses_total",
                "Times accepting paused for want of descriptors or memory.", metrics.acceptPauses);
    out.gauge("process_resident_memory_bytes", "Resident memory size in bytes.",
              statusBytes("VmRSS"));
    out.gauge("process_open_fds", "Number of open file descriptors.",
              QDir("/proc/self/fd").count() - 2);
    out.gauge("process_max_fds", "Maximum number of open file descriptors.", descriptorLimit());
    out.counter("process_cpu_seconds_total", "Total user and system CPU time spent in seconds.",
                cpuSecondsFrom("/proc/self/stat"));
    return out.text();
}
