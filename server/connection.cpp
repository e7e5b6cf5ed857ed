#include "connection.h"

#include "metrics.h"
#include "requestdispatcher.h"
#include "lobbymessages.h"

QString addressText(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4).toString() : address.toString();
}

Connection::Connection(quint64 serial, const QHostAddress& peer,
                       std::unique_ptr<Transport> transport, RequestDispatcher& dispatcher,
                       Metrics& metrics, qint64 sendQueueLimit)
    : number(serial), peerName(addressText(peer)), transport(std::move(transport)),
      dispatcher(dispatcher), metrics(metrics), sendQueueLimit(sendQueueLimit)
{
}

Connection::~Connection() = default;

void Connection::log(const QString& message) const
{
    const QString who = user ? QString(" user %1").arg(user) : QString();
    qInfo().noquote() << QString("connection %1 %2%3: %4").arg(number).arg(peerName, who, message);
}

void Connection::logRefusal(const QString& what)
{
    ++metrics.refusals;
    log("refused: " + what);
}

void Connection::receive(QByteArrayView bytes)
{
    if (state == State::Ended)
        return;
    decoder.append(bytes);
    while (state != State::Ended) {
        QByteArrayView payload;
        const FrameDecoder::Status status = decoder.next(payload);
        if (status == FrameDecoder::Status::NeedMore)
            return;
        if (status == FrameDecoder::Status::BadLength) {
            const QString why = QString("frame length %1").arg(decoder.badLength());
            if (state == State::AwaitingHello)
                refuseHello(2, "bad hello: " + why);
            else
                closeForViolation(why);
            return;
        }
        ++metrics.framesIn;
        if (state == State::AwaitingHello)
            handleHello(payload);
        else
            dispatcher.dispatch(*this, payload);
    }
}

void Connection::handleHello(QByteArrayView payload)
{
    FieldReader in(payload);
    const quint32 magic = in.u32();
    const quint32 version = in.u32();
    if (payload.size() != 8 || magic != helloMagic)
        return refuseHello(2, QString("bad hello of %1 bytes").arg(payload.size()));
    if (version != protocolVersion)
        return refuseHello(1, QString("protocol version %1 refused").arg(version));
    write(FrameWriter::serverHello(0).toByteArray());
    state = State::Open;
    log("hello accepted");
}

void Connection::refuseHello(quint32 result, const QString& why)
{
    write(FrameWriter::serverHello(result).toByteArray());
    end(true, why);
}

void Connection::transportEnded(const QString& why)
{
    if (state == State::Ended)
        return;
    transport.reset();
    end(false, why);
}

void Connection::sendReply(const QByteArray& frame)
{
    if (state == State::Open)
        write(frame);
}

void Connection::sendNotification(const QByteArray& frame)
{
    if (state != State::Open)
        return;
    if (holding)
        held.append(frame);
    else
        write(frame);
}

void Connection::holdNotifications()
{
    holding = true;
}

void Connection::releaseNotifications()
{
    holding = false;
    const QList<QByteArray> frames = std::move(held);
    held.clear();
    for (const QByteArray& frame : frames)
        sendNotification(frame);
}

void Connection::write(const QByteArray& frame)
{
    if (!transport)
        return;
    if (transport->unsentBytes() + frame.size() > sendQueueLimit) {
        ++metrics.refusals;
        end(false,
            QString("send queue over %1 bytes: the client stopped reading").arg(sendQueueLimit));
        return;
    }
    transport->write(frame);
    ++metrics.framesOut;
}

void Connection::closeWithNotice(CloseNoticeReason reason, const QString& why)
{
    if (state != State::Open)
        return;
    write(frameBytes(CloseNotification{reason}));
    end(true, why);
}

void Connection::close(const QString& why)
{
    end(true, why);
}

void Connection::closeForViolation(const QString& why)
{
    ++metrics.refusals;
    end(true, "protocol violation: " + why);
}

void Connection::end(bool flush, const QString& why)
{
    if (state == State::Ended)
        return;
    state = State::Ended;
    held.clear();
    log("closed: " + why);
    if (transport) {
        if (flush)
            transport->closeAfterFlush();
        else
            transport->abort();
        transport.reset();
    }
    QMetaObject::invokeMethod(
        this, [this] { emit ended(this); }, Qt::QueuedConnection);
}
