// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbywire.h"
#include "wirelayout.h"

#include <QAbstractSocket>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QVector>

#include <functional>
#include <optional>

class QTcpSocket;

// The one framed connection to the lobby server: hello, packet framing in both directions,
// reply and notification queues, and the one-command-at-a-time request API.
class ProtocolSocket : public QObject
{
    Q_OBJECT

  public:
    enum CloseReason {
        NormalClose = 0,
        ServerShutdown = 1,
        DuplicateLogin = 2,
        VersionMismatch = 3,
        ConnectionError = 4,
        // Over TLS, the server's certificate did not prove it is the lobby; nothing was sent.
        IdentityUnconfirmed = 5,
    };
    Q_ENUM(CloseReason)

    explicit ProtocolSocket(QObject* parent);
    ~ProtocolSocket() override;

    void connectToServer();

    bool isCommandOpen() const { return commandOpen; }
    void beginCommand(QObject* receiver, const char* replySlot, QObject* target,
                      const char* targetSlot);
    void beginCommand(QObject* receiver, const char* replySlot, const char* targetSlot);
    void beginCommand(QObject* receiver, const char* replySlot);
    void sendCommand();
    void endCommand();
    // Runs action now when no command is out, else once the connection is free, unless context
    // has gone by then. A later call for the same context replaces one still waiting, so a
    // trigger pressed twice meanwhile starts its command once.
    void whenIdle(QObject* context, const std::function<void()>& action);

    void beginMessage();
    // A whole request of the wire library: its code, then its fields.
    template <class Request> void write(const Request& request)
    {
        if (!outgoing)
            return;
        writeLayout(*outgoing, request);
        checkWrite();
    }
    void writeBytes(const void* data, int n);
    void writeUInt32(quint32 value);
    void writeString(const QString& text);
    void sendMessage();
    void sendQuit();

    bool prepareRecvReply(bool required);
    bool prepareRecvNotify(bool required);
    quint32 readUInt32();
    QString readString();
    // A whole layout of the wire library, read from the current packet.
    template <class Layout> Layout read()
    {
        requireReadBuffer();
        const Layout layout = readFields<Layout>(fields);
        checkRead();
        return layout;
    }
    void releaseRecvBuffer();

    void invalidate();

  signals:
    void connected();
    void recvReply();
    void recvNotify();
    void close(ProtocolSocket::CloseReason cr);
    void changeCommandState(bool valid);
    // After every command's end, for whoever waits on the connection; queue to it.
    void commandEnded();

  protected slots:
    void doError(QAbstractSocket::SocketError socketError);
    void doDisconnected();
    void doConnected();
    void doReadyRead();
    void doBytesWritten(qint64 bytes);
    void runWaiting();

  private:
    // A QSslSocket readied for the lobby when TLS is chosen, else a QTcpSocket; false when TLS
    // cannot be readied and the connection is ending.
    bool openSocket();
    // One frame: on the send side a 4-byte length prefix then the payload; on the receive side
    // the prefix is read first and the payload is then read over it from offset 0.
    struct PacketBuffer {
        qint64 size = -1;
        char data[4 + maxPayload];
    };

    enum Flag : quint32 {
        Invalidated = 1u << 0,
        HelloPassed = 1u << 1,
    };

    PacketBuffer* takeBuffer();
    void giveBack(PacketBuffer* buffer);
    void startReceiving();
    void writeInFlight(PacketBuffer* buffer);
    bool handleServerHello(PacketBuffer* packet);
    bool dispatchPacket(PacketBuffer* packet, bool& reply, bool& notify);
    bool prepareRecv(QList<PacketBuffer*>& queue);
    [[noreturn]] void failRead(const char* message);
    void requireReadBuffer();
    void checkRead();
    void checkWrite();

    quint32 flags = 0;
    CloseReason closeReason = ConnectionError;
    QTcpSocket* socket = nullptr;
    QVector<PacketBuffer*> bufferPool;
    QList<PacketBuffer*> replyQueue;
    QList<PacketBuffer*> notifyQueue;

    PacketBuffer* recvBuffer = nullptr;
    qint64 recvReceived = 0;
    qint64 recvNeeded = 0;

    PacketBuffer* readBuffer = nullptr;
    FieldReader fields{nullptr, 0};

    QList<PacketBuffer*> sendQueue;

    PacketBuffer* inFlight = nullptr;
    qint64 inFlightWritten = 0;
    qint64 inFlightOutstanding = 0;

    std::optional<FrameWriter> outgoing;

    bool commandOpen = false;

    struct Waiting {
        QPointer<QObject> context;
        std::function<void()> action;
    };
    QList<Waiting> waiting;
    bool runningWaiting = false;
};
