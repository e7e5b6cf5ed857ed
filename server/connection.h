#pragma once

#include "framedecoder.h"
#include "lobbywire.h"
#include "transport.h"

#include <QHostAddress>
#include <QList>
#include <QObject>

#include <memory>

class RequestDispatcher;
struct Metrics;

// A peer address as text, with an IPv4-mapped IPv6 address written as plain IPv4: the form the
// game's engines connect to and the one limits per address are counted by.
QString addressText(const QHostAddress& address);

// One client: the hello, the framing of its requests, its login, and a bounded send queue.
// A connection that ends stops reading and writing at once and reports ended() from the event
// loop, so that the lobby never changes under a loop that is still delivering events.
class Connection : public QObject
{
    Q_OBJECT

  public:
    Connection(quint64 serial, const QHostAddress& peer, std::unique_ptr<Transport> transport,
               RequestDispatcher& dispatcher, Metrics& metrics, qint64 sendQueueLimit);
    ~Connection() override;

    QString peerText() const { return peerName; }
    bool isOpen() const { return state == State::Open; }
    bool isEnded() const { return state == State::Ended; }

    quint32 userId() const { return user; }
    bool isLoggedIn() const { return user != 0; }
    void setUserId(quint32 id) { user = id; }

    // A command whose reply is being prepared off the event loop (a password hash).
    bool isCommandPending() const { return commandPending; }
    void setCommandPending(bool pending) { commandPending = pending; }

    // Bytes arriving from the client.
    void receive(QByteArrayView bytes);
    // The client went away or the socket failed.
    void transportEnded(const QString& why);

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

    void log(const QString& message) const;
    void logRefusal(const QString& what);

  signals:
    void ended(Connection* connection);

  private:
    enum class State { AwaitingHello, Open, Ended };

    void handleHello(QByteArrayView payload);
    // Answers the hello with a refusal and ends the connection once the answer is out.
    void refuseHello(quint32 result, const QString& why);
    void write(const QByteArray& frame);
    void end(bool flush, const QString& why);

    const quint64 number;
    const QString peerName;
    std::unique_ptr<Transport> transport;
    RequestDispatcher& dispatcher;
    Metrics& metrics;
    const qint64 sendQueueLimit;
    State state = State::AwaitingHello;
    FrameDecoder decoder;
    quint32 user = 0;
    bool commandPending = false;
    bool holding = false;
    QList<QByteArray> held;
};
