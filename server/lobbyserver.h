#pragma once

#include "lobby.h"
#include "accountservice.h"
#include "addressguard.h"
#include "metrics.h"
#include "notifier.h"
#include "requestdispatcher.h"
#include "tcptransport.h"

#include <QHash>
#include <QSet>
#include <QTcpServer>
#include <QTimer>

class Connection;
class Outbox;
class StoreWorker;
struct ServerConfig;

// Accepts clients, keeps the per-address count, logs the metrics line, and shuts down in
// order: a close notice to every client, their last bytes flushed, then stopped().
class LobbyServer : public QObject
{
    Q_OBJECT

  public:
    LobbyServer(const ServerConfig& config, StoreWorker& store, Outbox& outbox);
    ~LobbyServer() override;

    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return tcp.errorString(); }
    QHostAddress address() const { return tcp.serverAddress(); }
    quint16 port() const { return tcp.serverPort(); }

    void shutdown();

  signals:
    void stopped();

  private:
    void acceptPending();
    void connectionEnded(Connection* connection);
    void finishShutdownWhenIdle();
    void logMetrics();

    const ServerConfig& config;
    Metrics metrics;
    Notifier notifier;
    Lobby lobby;
    AddressGuard addressGuard;
    AccountService accounts;
    RequestDispatcher dispatcher;
    SocketReaper reaper;
    QTcpServer tcp;
    QTimer metricsTimer;
    QHash<QString, int> perAddress;
    QSet<Connection*> connections;
    quint64 lastSerial = 0;
    bool stopping = false;
    bool hasStopped = false;
};
