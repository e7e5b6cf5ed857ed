// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby.h"
#include "accountservice.h"
#include "addressguard.h"
#include "metrics.h"
#include "moderation.h"
#include "notifier.h"
#include "refusalsummary.h"
#include "requestdispatcher.h"
#include "tcptransport.h"

#include <QHash>
#include <QSslConfiguration>
#include <QSet>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTimer>

#include <climits>
#include <memory>
#include <optional>

class Connection;
class Outbox;
class StoreWorker;
struct ServerConfig;

// Accepts clients within the limits per network and before login, keeps every connection to
// its deadlines, logs the metrics line, reloads the configuration, and shuts down in order: a
// close notice to every client, their last bytes flushed, then stopped().
class LobbyServer : public QObject
{
    Q_OBJECT

  public:
    LobbyServer(ServerConfig& config, StoreWorker& store, Outbox& outbox);
    ~LobbyServer() override;

    // Reads the TLS certificate and key the configuration names (none: plain connections only).
    bool loadTls(QString& error);
    bool listen(const QHostAddress& address, quint16 port);
    QString errorString() const { return tcp.errorString(); }
    QHostAddress address() const { return tcp.serverAddress(); }
    quint16 port() const { return tcp.serverPort(); }

    // Reads the configuration file again and applies what can change while the server runs; a
    // file that cannot be read or holds a bad value changes nothing.
    void reloadConfig(const QString& path, bool required);
    void shutdown();
    // The server's figures in Prometheus' text format, as a monitoring scrape reads them.
    QByteArray metricsReport() const;
    // The operators' commands, for the control socket.
    Moderation& moderation() { return moderator; }

  signals:
    void stopped();

  private:
    void acceptPending();
    void accept(QTcpSocket* socket);
    // Why a new connection from that network is turned away, or empty.
    QString refusalFor(const QString& group) const;
    void refuseConnection(QTcpSocket* socket, const QString& group, const QString& why);
    // Out of descriptors or memory: stops accepting for a while, longer each time in a row.
    void pauseAccepting(const QString& why);
    void connectionEnded(Connection* connection);
    void checkDeadlines();
    void finishShutdownWhenIdle();
    void logMetrics();

    ServerConfig& config;
    const StoreFigures& storeFigures;
    Metrics metrics;
    Notifier notifier;
    Lobby lobby;
    AddressGuard addressGuard;
    AccountService accounts;
    RequestDispatcher dispatcher;
    SocketReaper reaper;
    Moderation moderator;
    // Binds and listens; the accepting is this class's own (see acceptPending).
    QTcpServer tcp;
    std::unique_ptr<QSocketNotifier> incoming;
    QTimer metricsTimer;
    QTimer deadlineTimer;
    QTimer acceptRetry;
    int acceptBackoffMs = 0;
    int maxClientDescriptor = INT_MAX;
    std::optional<QSslConfiguration> tls;
    RefusalSummary connectionRefusals;
    qint64 refusalSummaryDueMs = 0;
    QHash<QString, int> perGroup;
    QSet<Connection*> connections;
    quint64 lastSerial = 0;
    bool stopping = false;
    bool hasStopped = false;
};
