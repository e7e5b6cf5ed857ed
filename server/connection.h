// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "framedecoder.h"
#include "lobbywire.h"
#include "ratewindow.h"
#include "refusalsummary.h"
#include "transport.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <memory>

class RequestDispatcher;
struct Metrics;
struct ServerConfig;

// A peer address as text, with an IPv4-mapped IPv6 address written as plain IPv4: the form the
// game's engines connect to and the one the log shows.
QString addressText(const QHostAddress& address);

// One client: the hello, the framing of its requests, its login, a bounded send queue, its
// deadlines and its refusals. A connection that ends stops reading and writing at once and
// reports ended() from the event loop, so that the lobby never changes under a loop that is
// still delivering events.
class Connection : public QObject
{
    Q_OBJECT

  public:
    Connection(quint64 serial, const QHostAddress& peer, std::unique_ptr<Transport> transport,
               RequestDispatcher& dispatcher, Metrics& metrics, const ServerConfig& config);
    ~Connection() override;

    QString peerText() const { return peerName; }
    // The network the peer address belongs to, which limits per address count.
    QString addressGroup() const { return group; }
    bool isOpen() const { return state == State::Open; }
    bool isEnded() const { return state == State::Ended; }

    quint32 userId() const { return user; }
    bool isLoggedIn() const { return user != 0; }
    void setUserId(quint32 id);

    // A command whose reply is being prepared off the event loop (a password hash).
    bool isCommandPending() const { return commandPending; }
    void setCommandPending(bool pending) { commandPending = pending; }

    // Bytes arriving from the client.
    void receive(QByteArrayView bytes);
    // The client went away or the socket failed.
    void transportEnded(const QString& why);
    // The transport carries TLS: a server that requires it takes this connection's hello.
    void markEncrypted() { encrypted = true; }

    void sendReply(const QByteArray& frame);
    // While notifications are held (during a command), they queue behind the command's reply,
    // so that the client always reads the reply before the events the command caused.
    void sendNotification(const QByteArray& frame);
    void holdNotifications();
    void releaseNotifications();

    // Ends the connection: close notice, flush, close.
    void closeWithNotice(CloseNoticeReason reason, const QString& why);
    // Ends the connection: flush what was answered, then close.
    void close(const QString& why);
    // The same for a client that broke the protocol, counted as a refusal.
    void closeForViolation(const QString& why);

    // A request of a known code was taken from this client.
    void countRequest(quint32 code);

    void log(const QString& message) const;
    // Logs the first refusal of a kind and counts the rest; ends the connection of a client
    // refused too often.
    void logRefusal(const QString& what);

    // Ends the connection when one of its deadlines has passed (the hello, the login, the rest
    // of a frame), and sums up the refusals not logged once that is due.
    void checkDeadlines(qint64 nowMs);

  signals:
    void ended(Connection* connection);

  private:
    enum class State { AwaitingHello, Open, Ended };

    void handleHello(QByteArrayView payload);
    // Answers the hello with a refusal and ends the connection once the answer is out.
    void refuseHello(quint32 result, const QString& why);
    void write(const QByteArray& frame);
    void end(bool flush, const QString& why);
    void logRefusalSummary();
    // Keeps the count of connections not logged in.
    void countLoginPending();

    const quint64 number;
    const QString peerName;
    const QString group;
    std::unique_ptr<Transport> transport;
    RequestDispatcher& dispatcher;
    Metrics& metrics;
    const ServerConfig& config;
    State state = State::AwaitingHello;
    FrameDecoder decoder;
    // Bytes received and not yet part of a whole frame, and since when (-1: none).
    qint64 unframedBytes = 0;
    qint64 partialSinceMs = -1;
    const qint64 openedMs;
    qint64 helloMs = 0;
    RefusalSummary refusals;
    qint64 summaryDueMs = 0;
    RateWindow refusalBudget;
    bool countedPending = false;
    quint32 user = 0;
    bool commandPending = false;
    bool holding = false;
    bool encrypted = false;
    QList<QByteArray> held;
};
