// SPDX-License-Identifier: GPL-3.0-or-later
#include "connection.h"

#include "addressgroup.h"
#include "metrics.h"
#include "requestdispatcher.h"
#include "serverconfig.h"
#include "lobbymessages.h"

QString addressText(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4).toString() : address.toString();
}

Connection::Connection(quint64 serial, const QHostAddress& peer,
                       std::unique_ptr<Transport> transport, RequestDispatcher& dispatcher,
                       Metrics& metrics, const ServerConfig& config)
    : number(serial), peerName(addressText(peer)),
      group(::addressGroup(peer, config.ipv4GroupPrefix)), transport(std::move(transport)),
      dispatcher(dispatcher), metrics(metrics), config(config), openedMs(monotonicMs()),
      refusalBudget(config.refusalsPerMinute, 60 * 1000)
{
    countLoginPending();
}

Connection::~Connection()
{
    state = State::Ended;
    countLoginPending();
}

void Connection::setUserId(quint32 id)
{
    user = id;
    countLoginPending();
}

void Connection::countLoginPending()
{
    const bool pending = state != State::Ended && user == 0;
    if (pending != countedPending)
        metrics.notLoggedIn += pending ? 1 : -1;
    countedPending = pending;
}

void Connection::log(const QString& message) const
{
    const QString who = user ? QString(" user %1").arg(user) : QString();
    qInfo().noquote() << QString("connection %1 %2%3: %4").arg(number).arg(peerName, who, message);
}

void Connection::countRequest(quint32 code)
{
    ++metrics.requests[code];
}

void Connection::logRefusal(const QString& what)
{
    metrics.countRefusal(what);
    const qint64 now = monotonicMs();
    if (refusals.isEmpty())
        summaryDueMs = now + qint64(config.refusalSummarySeconds) * 1000;
    if (refusals.count(RefusalSummary::kindOf(what)))
        log("refused: " + what);
    if (!refusalBudget.tryTake(now)) {
        ++metrics.offenders;
        closeWithNotice(CloseServerShutdown,
                        QString("more than %1 refusals a minute").arg(config.refusalsPerMinute));
    }
}

void Connection::logRefusalSummary()
{
    for (const QString& line : refusals.flush())
        log(line);
}

void Connection::checkDeadlines(qint64 nowMs)
{
    if (state == State::Ended)
        return;
    if (!refusals.isEmpty() && nowMs >= summaryDueMs)
        logRefusalSummary();
    QString late;
    if (state == State::AwaitingHello && nowMs - openedMs >= config.helloTimeoutSeconds * 1000LL)
        late = "no hello in time";
    // The server's own slowness (a login's password check) is not held against the client.
    else if (state == State::Open && !user && !commandPending &&
             nowMs - helloMs >= config.loginTimeoutSeconds * 1000LL)
        late = "no login in time";
    else if (partialSinceMs >= 0 && nowMs - partialSinceMs >= config.partialFrameSeconds * 1000LL)
        late = QString("a frame unfinished for %1 s").arg(config.partialFrameSeconds);
    if (late.isEmpty())
        return;
    ++metrics.timeouts;
    close(late);
}

void Connection::receive(QByteArrayView bytes)
{
    if (state == State::Ended)
        return;
    decoder.append(bytes);
    unframedBytes += bytes.size();
    bool framed = false;
    while (state != State::Ended) {
        QByteArrayView payload;
        const FrameDecoder::Status status = decoder.next(payload);
        if (status == FrameDecoder::Status::NeedMore)
            break;
        if (status == FrameDecoder::Status::BadLength) {
            const QString why = QString("frame length %1").arg(decoder.badLength());
            if (state == State::AwaitingHello)
                refuseHello(HelloMalformed, "bad hello: " + why);
            else
                closeForViolation(why);
            return;
        }
        unframedBytes -= lengthPrefix + payload.size();
        framed = true;
        ++metrics.framesIn;
        if (state == State::AwaitingHello)
            handleHello(payload);
        else
            dispatcher.dispatch(*this, payload);
    }
    // A frame's clock starts with its first byte: when the last one ended, or now.
    if (unframedBytes == 0)
        partialSinceMs = -1;
    else if (framed || partialSinceMs < 0)
        partialSinceMs = monotonicMs();
}

void Connection::handleHello(QByteArrayView payload)
{
    FieldReader in(payload);
    const quint32 magic = in.u32();
    const quint32 version = in.u32();
    if (payload.size() != 8 || magic != helloMagic)
        return refuseHello(HelloMalformed, QString("bad hello of %1 bytes").arg(payload.size()));
    if (version != protocolVersion)
        return refuseHello(HelloVersionRefused,
                           QString("protocol version %1 refused").arg(version));
    if (config.tlsRequired && !encrypted)
        return refuseHello(HelloPlainRefused, "plain hello refused: TLS is required");
    write(FrameWriter::serverHello(HelloAccepted).toByteArray());
    state = State::Open;
    helloMs = monotonicMs();
    log(encrypted ? "hello accepted (TLS)" : "hello accepted");
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
    if (transport->unsentBytes() + frame.size() > config.sendQueueBytes) {
        ++metrics.slowReaders;
        metrics.countRefusal("send queue full");
        end(false, QString("send queue over %1 bytes: the client stopped reading")
                       .arg(config.sendQueueBytes));
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
    metrics.countRefusal("protocol violation: " + why);
    end(true, "protocol violation: " + why);
}

void Connection::end(bool flush, const QString& why)
{
    if (state == State::Ended)
        return;
    state = State::Ended;
    countLoginPending();
    held.clear();
    logRefusalSummary();
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
