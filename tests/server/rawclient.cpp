#include "rawclient.h"

#include "lobbywire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QtEndian>

RawClient::RawClient(bool keepConnectionCounts) : keepConnectionCounts(keepConnectionCounts)
{
    QObject::connect(&socket, &QTcpSocket::readyRead, [this] { collect(); });
}

bool RawClient::connectTo(quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (socket.waitForConnected(10000))
        return true;
    lastFailure = "cannot connect: " + socket.errorString();
    return false;
}

bool RawClient::open(quint16 port)
{
    if (!connectTo(port))
        return false;
    send(clientHello());
    return expect(serverHello(0));
}

bool RawClient::login(quint16 port, const QString& account, const QString& password,
                      quint32* userId)
{
    if (!open(port))
        return false;
    send(request(Authenticate, Wire().str(account).str(password)));
    QByteArray reply;
    if (!nextFrame(reply, 20000))
        return false;
    if (reply.size() < 17 || reply[4] != 0 || qFromLittleEndian<quint32>(reply.data() + 5) != 0) {
        lastFailure = "login refused: " + QString::fromLatin1(reply.toHex(' '));
        return false;
    }
    if (userId)
        *userId = qFromLittleEndian<quint32>(reply.data() + 9);
    return true;
}

void RawClient::send(const QByteArray& bytes)
{
    if (socket.state() != QAbstractSocket::ConnectedState)
        return;
    socket.write(bytes);
    socket.flush();
}

void RawClient::collect()
{
    if (!reading)
        return;
    received.append(socket.readAll());
    if (keepConnectionCounts)
        return;
    // Drop whole connection-count frames wherever they stand in the stream.
    qsizetype at = 0;
    while (received.size() - at >= 4) {
        const qsizetype length = qFromLittleEndian<quint32>(received.constData() + at) + 4;
        if (received.size() - at < length)
            break;
        const bool count =
            length == 13 && received[at + 4] == char(NotifyPacket) &&
            qFromLittleEndian<quint32>(received.constData() + at + 5) == NotifyConnectionCount;
        if (count)
            received.remove(at, length);
        else
            at += length;
    }
}

bool RawClient::waitFor(qsizetype bytes, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (received.size() < bytes && !deadline.hasExpired() &&
           socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(20);
        collect();
    }
    collect();
    return received.size() >= bytes;
}

static QString hexAround(const QByteArray& bytes, qsizetype at)
{
    const qsizetype from = qMax<qsizetype>(0, at - 8);
    return QString::fromLatin1(bytes.mid(from, 32).toHex(' ')) +
           QString(" (from byte %1)").arg(from);
}

bool RawClient::expect(const QByteArray& expected, int timeoutMs)
{
    waitFor(expected.size(), timeoutMs);
    for (qsizetype i = 0; i < qMin(received.size(), expected.size()); ++i) {
        if (received[i] != expected[i]) {
            lastFailure = QString("server bytes differ at byte %1\n  expected %2\n  received %3")
                              .arg(i)
                              .arg(hexAround(expected, i), hexAround(received, i));
            return false;
        }
    }
    if (received.size() < expected.size()) {
        lastFailure = QString("server sent %1 of %2 expected bytes: %3")
                          .arg(received.size())
                          .arg(expected.size())
                          .arg(QString::fromLatin1(received.toHex(' ')));
        return false;
    }
    received.remove(0, expected.size());
    return true;
}

bool RawClient::roundTrip(const QByteArray& request, const QByteArray& reply)
{
    send(request);
    return expect(reply);
}

bool RawClient::expectClosed(const QByteArray& lastBytes, int timeoutMs)
{
    if (!expect(lastBytes, timeoutMs))
        return false;
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired())
        socket.waitForDisconnected(20);
    collect();
    if (socket.state() == QAbstractSocket::ConnectedState || !received.isEmpty()) {
        lastFailure =
            "connection still open or more bytes: " + QString::fromLatin1(received.toHex(' '));
        return false;
    }
    return true;
}

bool RawClient::nextFrame(QByteArray& frame, int timeoutMs)
{
    if (!waitFor(4, timeoutMs) ||
        !waitFor(4 + qFromLittleEndian<quint32>(received.constData()), timeoutMs)) {
        lastFailure = "no whole frame: " + QString::fromLatin1(received.toHex(' '));
        return false;
    }
    const qsizetype length = 4 + qFromLittleEndian<quint32>(received.constData());
    frame = received.left(length);
    received.remove(0, length);
    return true;
}

void RawClient::stopReading()
{
    reading = false;
    // Qt then stops taking bytes from the kernel, whose buffers fill up in turn.
    socket.setReadBufferSize(1);
}

QByteArray request(quint32 code, const QByteArray& fields)
{
    return frame(Wire().u32(code).raw(fields));
}

QByteArray roomEvent(quint32 kind, quint32 roomId, quint32 userId, quint32 otherId, quint32 value,
                     const QString& text)
{
    return notifyFrame(
        NotifyRoomEvent,
        Wire().u32(kind).u32(roomId).u32(userId).u32(otherId).u32(value).u32(0).str(text));
}

QByteArray u32Reply(quint32 value)
{
    return replyFrame(Wire().u32(value));
}
