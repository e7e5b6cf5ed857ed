#include "lobbyserver.h"

#include "connection.h"

#include <QTcpSocket>

LobbyServer::LobbyServer(const ServerConfig& config, StoreWorker& store, Outbox& outbox)
    : config(config), lobby(config, notifier),
      addressGuard(config.failedLoginsPerMinute, config.loginBanSeconds,
                   config.registrationMailsPerHour),
      accounts(config, store, outbox, addressGuard), dispatcher(lobby, notifier, accounts),
      reaper(config.closeLingerSeconds * 1000)
{
    connect(&tcp, &QTcpServer::newConnection, this, &LobbyServer::acceptPending);
    connect(&reaper, &SocketReaper::allClosed, this, &LobbyServer::finishShutdownWhenIdle);
    connect(&metricsTimer, &QTimer::timeout, this, &LobbyServer::logMetrics);
    metricsTimer.start(config.metricsIntervalSeconds * 1000);
}

LobbyServer::~LobbyServer()
{
    accounts.waitForJobs();
    qDeleteAll(connections);
}

bool LobbyServer::listen(const QHostAddress& address, quint16 port)
{
    // The pending queue is bounded by the kernel's backlog; accepted sockets are handled at
    // once, so the default of 30 would only slow down bursts of logins.
    tcp.setMaxPendingConnections(1024);
    tcp.setListenBacklogSize(1024);
    return tcp.listen(address, port);
}

void LobbyServer::acceptPending()
{
    while (QTcpSocket* socket = tcp.nextPendingConnection()) {
        const QHostAddress peer = socket->peerAddress();
        const QString address = addressText(peer);
        if (stopping || perAddress.value(address) >= config.connectionsPerAddress) {
            ++metrics.refusals;
            qInfo().noquote() << QString("refused connection from %1: %2")
                                     .arg(address, stopping ? "shutting down"
                                                            : "too many connections from it");
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto transport = std::make_unique<TcpTransport>(socket, reaper);
        TcpTransport* tcpTransport = transport.get();
        auto* connection = new Connection(++lastSerial, peer, std::move(transport), dispatcher,
                                          metrics, config.sendQueueBytes);
        connect(connection, &Connection::ended, this, &LobbyServer::connectionEnded);
        connections.insert(connection);
        ++perAddress[address];
        connection->log("opened");
        QTimer::singleShot(config.helloTimeoutSeconds * 1000, connection, [connection] {
            if (!connection->isOpen() && !connection->isEnded())
                connection->closeForViolation("no hello in time");
        });
        tcpTransport->attach(connection);
    }
}

void LobbyServer::connectionEnded(Connection* connection)
{
    dispatcher.connectionEnded(*connection);
    const QString address = connection->peerText();
    if (--perAddress[address] <= 0)
        perAddress.remove(address);
    connections.remove(connection);
    connection->deleteLater();
    finishShutdownWhenIdle();
}

void LobbyServer::shutdown()
{
    if (stopping)
        return;
    stopping = true;
    qInfo().noquote() << QString("shutting down: closing %1 connections").arg(connections.size());
    tcp.close();
    metricsTimer.stop();
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
                                 "framesIn=%5 framesOut=%6 refusals=%7")
                             .arg(connections.size())
                             .arg(lobby.userCount())
                             .arg(lobby.roomCount())
                             .arg(lobby.matchCount())
                             .arg(metrics.framesIn)
                             .arg(metrics.framesOut)
                             .arg(metrics.refusals);
}
