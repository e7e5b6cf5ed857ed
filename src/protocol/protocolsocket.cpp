// SPDX-License-Identifier: GPL-3.0-or-later
#include "protocol/protocolsocket.h"

#include "app/globals.h"
#include "lobbytls.h"
#include "protocol/lobbyaddress.h"
#include "lobbymessages.h"
#include "lobbyrequests.h"

#include <QDebug>
#include <QSslSocket>
#include <QtEndian>

#include <cstring>
#include <utility>

namespace
{
constexpr qint64 readChunkBytes = 16 * 1024;
} // namespace

ProtocolSocket::ProtocolSocket(QObject* parent) : QObject(parent)
{
    connect(this, &ProtocolSocket::commandEnded, this, &ProtocolSocket::runWaiting,
            Qt::QueuedConnection);
}

ProtocolSocket::~ProtocolSocket()
{
    // Tearing the socket down reports a disconnect that nobody may act on any more.
    if (socket)
        socket->disconnect(this);
    delete socket;
    qDeleteAll(bufferPool);
    qDeleteAll(replyQueue);
    qDeleteAll(notifyQueue);
    qDeleteAll(sendQueue);
    for (PacketBuffer* held : {recvBuffer, readBuffer, inFlight})
        delete held;
}

ProtocolSocket::PacketBuffer* ProtocolSocket::takeBuffer()
{
    PacketBuffer* buffer = bufferPool.isEmpty() ? new PacketBuffer : bufferPool.takeLast();
    buffer->size = -1;
    return buffer;
}

void ProtocolSocket::giveBack(PacketBuffer* buffer)
{
    bufferPool.append(buffer);
}

void ProtocolSocket::startReceiving()
{
    recvBuffer = takeBuffer();
    recvReceived = 0;
    recvNeeded = lengthPrefix;
}

void ProtocolSocket::connectToServer()
{
    if (socket)
        return;
    startReceiving();
    closeReason = ConnectionError;
    const bool ready = openSocket();
    // A flood is taken in bounded chunks, so that one read pass, and the notifications it
    // queues for the window, stay short and the packet pool stays small.
    socket->setReadBufferSize(readChunkBytes);
    connect(socket, &QTcpSocket::errorOccurred, this, &ProtocolSocket::doError);
    connect(socket, &QTcpSocket::disconnected, this, &ProtocolSocket::doDisconnected);
    connect(socket, &QTcpSocket::readyRead, this, &ProtocolSocket::doReadyRead);
    connect(socket, &QTcpSocket::bytesWritten, this, &ProtocolSocket::doBytesWritten);
    if (!ready)
        return;
    if (auto* tls = qobject_cast<QSslSocket*>(socket)) {
        tls->connectToHostEncrypted(lobbyHost(), lobbyPort(), QIODevice::ReadWrite);
    } else {
        connect(socket, &QTcpSocket::connected, this, &ProtocolSocket::doConnected);
        socket->connectToHost(lobbyHost(), lobbyPort(), QIODevice::ReadWrite);
    }
}

bool ProtocolSocket::openSocket()
{
    if (!lobbyUsesTls()) {
        socket = new QTcpSocket(this);
        return true;
    }
    auto* tls = new QSslSocket(this);
    socket = tls;
    QString error;
    if (!prepareLobbyTls(*tls, lobbyCaFile(), error)) {
        // Without the CAs to check against, no server can be confirmed: end as on a failed
        // check, before a byte goes out.
        qDebug() << "[ProtocolSocket]" << error;
        closeReason = IdentityUnconfirmed;
        QMetaObject::invokeMethod(this, &ProtocolSocket::invalidate, Qt::QueuedConnection);
        return false;
    }
    // The hello, and with it the password, goes out only inside a confirmed tunnel.
    connect(tls, &QSslSocket::encrypted, this, &ProtocolSocket::doConnected);
    connect(tls, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        for (const QSslError& error : errors)
            qDebug() << "[ProtocolSocket] TLS:" << error.errorString();
        closeReason = IdentityUnconfirmed;
    });
    return true;
}

void ProtocolSocket::beginCommand(QObject* receiver, const char* replySlot, QObject* target,
                                  const char* targetSlot)
{
    if (commandOpen)
        fatalError("[ProtocolSocket] すでにコマンド通信中");
    commandOpen = true;
    connect(this, SIGNAL(changeCommandState(bool)), target, targetSlot, Qt::QueuedConnection);
    connect(this, SIGNAL(recvReply()), receiver, replySlot, Qt::QueuedConnection);
    beginMessage();
}

void ProtocolSocket::whenIdle(QObject* context, const std::function<void()>& action)
{
    if (!commandOpen) {
        action();
        return;
    }
    waiting.removeIf([context](const Waiting& entry) { return entry.context == context; });
    waiting.append({context, action});
}

// Not re-entered from the nested event loop of a modal dialog that an action opens: what waits
// behind it goes on once that action has returned.
void ProtocolSocket::runWaiting()
{
    if (runningWaiting)
        return;
    runningWaiting = true;
    while (!commandOpen && !waiting.isEmpty()) {
        const Waiting next = waiting.takeFirst();
        if (next.context)
            next.action();
    }
    runningWaiting = false;
}

void ProtocolSocket::beginCommand(QObject* receiver, const char* replySlot, const char* targetSlot)
{
    beginCommand(receiver, replySlot, receiver, targetSlot);
}

void ProtocolSocket::beginCommand(QObject* receiver, const char* replySlot)
{
    beginCommand(receiver, replySlot, receiver, SLOT(setEnabled(bool)));
}

void ProtocolSocket::sendCommand()
{
    if (!commandOpen)
        fatalError("[ProtocolSocket] まだコマンド通信を行っていない");
    sendMessage();
    emit changeCommandState(false);
}

void ProtocolSocket::endCommand()
{
    if (!commandOpen)
        fatalError("[ProtocolSocket] まだコマンド通信を行っていない");
    commandOpen = false;
    releaseRecvBuffer();
    emit changeCommandState(true);
    disconnect(this, SIGNAL(changeCommandState(bool)), nullptr, nullptr);
    disconnect(this, SIGNAL(recvReply()), nullptr, nullptr);
    emit commandEnded();
}

void ProtocolSocket::beginMessage()
{
    if (!socket || (flags & Invalidated) || outgoing)
        return;
    outgoing = FrameWriter::blank();
}

void ProtocolSocket::checkWrite()
{
    if (outgoing->overflowed())
        fatalError("[ProtocolSocket] send buffer overflow");
}

void ProtocolSocket::writeBytes(const void* data, int n)
{
    if (!outgoing)
        return;
    outgoing->bytes(QByteArrayView(static_cast<const char*>(data), n));
    checkWrite();
}

void ProtocolSocket::writeUInt32(quint32 value)
{
    if (!outgoing)
        return;
    outgoing->u32(value);
    checkWrite();
}

void ProtocolSocket::writeString(const QString& text)
{
    if (!outgoing)
        return;
    outgoing->str(text);
    checkWrite();
}

void ProtocolSocket::sendMessage()
{
    if (!outgoing)
        return;
    const FrameWriter message = *std::exchange(outgoing, std::nullopt);
    if (message.isEmpty())
        return;
    PacketBuffer* frame = takeBuffer();
    std::memcpy(frame->data, message.frame(), size_t(message.frameSize()));
    frame->size = message.frameSize();
    // Only one frame is handed to the socket at a time, so frames leave in call order.
    if (inFlight) {
        sendQueue.append(frame);
        return;
    }
    writeInFlight(frame);
}

void ProtocolSocket::writeInFlight(PacketBuffer* buffer)
{
    inFlight = buffer;
    inFlightWritten = 0;
    inFlightOutstanding = buffer->size;
    if (socket->write(buffer->data, buffer->size) < 0)
        invalidate();
}

void ProtocolSocket::sendQuit()
{
    beginMessage();
    write(QuitRequest{});
    sendMessage();
}

bool ProtocolSocket::prepareRecv(QList<PacketBuffer*>& queue)
{
    if (!socket || (flags & Invalidated) || queue.isEmpty())
        return false;
    if (!readBuffer) {
        readBuffer = queue.takeFirst();
        // Past the type byte.
        fields = FieldReader(readBuffer->data + 1, readBuffer->size - 1);
    }
    return true;
}

bool ProtocolSocket::prepareRecvReply(bool required)
{
    if (prepareRecv(replyQueue))
        return true;
    if (required)
        fatalError("[ProtocolSocket] prepare recv reply");
    return false;
}

bool ProtocolSocket::prepareRecvNotify(bool required)
{
    if (prepareRecv(notifyQueue))
        return true;
    if (required)
        fatalError("[ProtocolSocket] prepare recv notify");
    return false;
}

void ProtocolSocket::failRead(const char* message)
{
    invalidate();
    fatalError(message);
}

void ProtocolSocket::requireReadBuffer()
{
    if (!readBuffer)
        failRead("[ProtocolSocket] invalidated recv buffer");
}

// Only the bytes of this packet are valid: a shorter packet than its layout is a protocol
// violation, never a read of what an earlier packet left in the buffer.
void ProtocolSocket::checkRead()
{
    if (fields.failed())
        failRead("[ProtocolSocket] recv buffer overflow");
}

quint32 ProtocolSocket::readUInt32()
{
    requireReadBuffer();
    const quint32 value = fields.u32();
    checkRead();
    return value;
}

QString ProtocolSocket::readString()
{
    requireReadBuffer();
    const QByteArrayView utf8 = fields.utf8();
    checkRead();
    return QString::fromUtf8(utf8);
}

void ProtocolSocket::releaseRecvBuffer()
{
    if (!readBuffer)
        return;
    giveBack(readBuffer);
    readBuffer = nullptr;
}

void ProtocolSocket::invalidate()
{
    qDebug() << "[ProtocolSocket] invalidate";
    if (flags & Invalidated)
        return;
    flags |= Invalidated;
    emit close(closeReason);
}

void ProtocolSocket::doConnected()
{
    qDebug() << "[ProtocolSocket] connected.";
    outgoing = FrameWriter::clientHello();
    sendMessage();
}

void ProtocolSocket::doDisconnected()
{
    qDebug() << "[ProtocolSocket] disconnected";
    doReadyRead();
    invalidate();
}

void ProtocolSocket::doError(QAbstractSocket::SocketError)
{
    qDebug() << "[ProtocolSocket] error" << socket->errorString();
    doReadyRead();
    invalidate();
}

void ProtocolSocket::doBytesWritten(qint64 bytes)
{
    if ((flags & Invalidated) || !inFlight)
        return;
    inFlightWritten += bytes;
    inFlightOutstanding -= bytes;
    // The socket took the whole frame on the first write; partial reports only count down.
    if (inFlightOutstanding > 0)
        return;
    giveBack(inFlight);
    inFlight = nullptr;
    if (!sendQueue.isEmpty())
        writeInFlight(sendQueue.takeFirst());
}

bool ProtocolSocket::handleServerHello(PacketBuffer* packet)
{
    if (packet->size != 4) {
        qDebug() << "[ProtocolSocket] Server Hello: NG";
        invalidate();
        return false;
    }
    switch (qFromLittleEndian<quint32>(packet->data)) {
    case 0:
        qDebug() << "[ProtocolSocket] Server Hello: PASS";
        flags |= HelloPassed;
        giveBack(packet);
        return true;
    case 1:
        qDebug() << "[ProtocolSocket] Server Hello: Invalid Version";
        closeReason = VersionMismatch;
        invalidate();
        return false;
    default:
        qDebug() << "[ProtocolSocket] Server Hello: Unknown error";
        invalidate();
        return false;
    }
}

bool ProtocolSocket::dispatchPacket(PacketBuffer* packet, bool& reply, bool& notify)
{
    if (packet->size == 0) {
        invalidate();
        return false;
    }
    const quint8 type = quint8(packet->data[0]);
    if (type == ReplyPacket) {
        replyQueue.append(packet);
        reply = true;
        return true;
    }
    if (type != NotifyPacket) {
        invalidate();
        return false;
    }
    FieldReader in(packet->data + 1, packet->size - 1);
    const quint32 kind = in.u32();
    if (in.failed())
        failRead("[ProtocolSocket] recv buffer overflow");
    if (kind != CloseNotice) {
        notifyQueue.append(packet);
        notify = true;
        return true;
    }
    const quint32 reason = readFields<CloseNotification>(in).reason;
    if (in.failed())
        failRead("[ProtocolSocket] recv buffer overflow");
    closeReason = reason < quint32(VersionMismatch) ? CloseReason(reason) : ConnectionError;
    invalidate();
    return false;
}

void ProtocolSocket::doReadyRead()
{
    if (flags & Invalidated)
        return;
    bool connectedMark = false, replyMark = false, notifyMark = false;
    while (socket->bytesAvailable() != 0) {
        const qint64 got = socket->read(recvBuffer->data + recvReceived, recvNeeded);
        if (got < 0) {
            invalidate();
            return;
        }
        recvReceived += got;
        recvNeeded -= got;
        if (recvNeeded > 0)
            continue;
        if (recvBuffer->size == -1) {
            const quint32 length = qFromLittleEndian<quint32>(recvBuffer->data);
            if (length > quint32(maxPayload)) {
                // The error box runs an event loop; bytes, errors or a hang-up arriving meanwhile
                // must not run this reader again and end the program before it can be read.
                socket->disconnect(this);
                fatalError("[ProtocolSocket] 受信サイズがでかすぎます");
            }
            recvBuffer->size = length;
            recvReceived = 0;
            recvNeeded = length;
            if (length != 0)
                continue;
        }
        PacketBuffer* packet = recvBuffer;
        recvBuffer = nullptr;
        if (!(flags & HelloPassed)) {
            if (!handleServerHello(packet)) {
                giveBack(packet);
                return;
            }
            connectedMark = true;
        } else if (!dispatchPacket(packet, replyMark, notifyMark)) {
            giveBack(packet);
            return;
        }
        startReceiving();
    }
    if (connectedMark)
        emit connected();
    if (replyMark)
        emit recvReply();
    if (notifyMark)
        emit recvNotify();
}
