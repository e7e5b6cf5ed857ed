// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobbyclient.h"

#include "lobbyrequests.h"
#include "lobbytls.h"

#include <QSslSocket>

#include <algorithm>

LobbyClient::LobbyClient(QObject* parent) : QObject(parent) {}

LobbyClient::~LobbyClient() = default;

void LobbyClient::connectToServer(const QString& host, quint16 port, const QHostAddress& source)
{
    if (socket)
        return;
    auto* encrypted = tls ? new QSslSocket(this) : nullptr;
    socket = encrypted ? encrypted : new QTcpSocket(this);
    state = State::Hello;
    connect(socket, &QTcpSocket::readyRead, this, &LobbyClient::readFrames);
    connect(socket, &QTcpSocket::disconnected, this, &LobbyClient::handleSocketEnd);
    connect(socket, &QTcpSocket::errorOccurred, this, &LobbyClient::handleSocketEnd);
    if (!source.isNull())
        socket->bind(source);
    if (!encrypted) {
        connect(socket, &QTcpSocket::connected, this, &LobbyClient::sendHello);
        socket->connectToHost(host, port);
        return;
    }
    QString error;
    if (!prepareLobbyTls(*encrypted, tlsCaFile, error)) {
        QMetaObject::invokeMethod(
            this, [this, error] { fail(ConnectionError, error); }, Qt::QueuedConnection);
        return;
    }
    connect(encrypted, &QSslSocket::encrypted, this, &LobbyClient::sendHello);
    encrypted->connectToHostEncrypted(host, port);
}

void LobbyClient::sendHello()
{
    const FrameWriter hello = FrameWriter::clientHello();
    write(hello.frame(), hello.frameSize());
}

void LobbyClient::write(const char* data, qsizetype size)
{
    if (socket->write(data, size) != size)
        fail(ConnectionError, "write failed: " + socket->errorString());
}

template <class Request> bool LobbyClient::command(const Request& request, ReplyHandler onReply)
{
    const FrameWriter frame = frameOf(request);
    if (frame.overflowed())
        return false;
    if (state == State::Closed)
        return true;
    if (state == State::Open && !commandOut && commands.isEmpty()) {
        commands.append({Request::code, QByteArray(), std::move(onReply)});
        commandOut = true;
        write(frame.frame(), frame.frameSize());
        return true;
    }
    commands.append(
        {Request::code, QByteArray(frame.frame(), frame.frameSize()), std::move(onReply)});
    return true;
}

void LobbyClient::sendNextCommand()
{
    if (state != State::Open || commandOut || commands.isEmpty())
        return;
    commandOut = true;
    const QByteArray frame = std::exchange(commands.first().frame, QByteArray());
    write(frame.constData(), frame.size());
}

template <class Request> bool LobbyClient::message(const Request& request)
{
    const FrameWriter frame = frameOf(request);
    if (frame.overflowed() || state != State::Open)
        return false;
    write(frame.frame(), frame.frameSize());
    return true;
}

// The handler of a reply of one packet: done takes it unless it is short.
template <class Reply>
static std::function<bool(FieldReader&)> whole(std::function<void(const Reply&)> done)
{
    return [done = std::move(done)](FieldReader& fields) {
        const Reply reply = readFields<Reply>(fields);
        if (!fields.failed() && done)
            done(reply);
        return true;
    };
}

static std::function<bool(FieldReader&)> resultReply(LobbyClient::ResultCallback done)
{
    return whole<ResultReply>([done = std::move(done)](const ResultReply& reply) {
        if (done)
            done(reply.result);
    });
}

bool LobbyClient::authenticate(const QString& account, const QString& password,
                               std::function<void(const LoginReply&)> done)
{
    return command(AuthenticateRequest{account, password}, whole<LoginReply>(std::move(done)));
}

void LobbyClient::getName(quint32 userId,
                          std::function<void(quint32 result, const QString& name)> done)
{
    command(GetNameRequest{userId},
            whole<NameReply>([done = std::move(done)](const NameReply& reply) {
                if (done)
                    done(reply.result, reply.name);
            }));
}

void LobbyClient::getCount(std::function<void(quint32 roomCount)> done)
{
    command(GetCountRequest{}, resultReply(std::move(done)));
}

void LobbyClient::getRoomInfo(quint32 roomId, std::function<void(const RoomInfo&)> done)
{
    command(GetRoomInfoRequest{roomId},
            whole<RoomInfoReply>([roomId, done = std::move(done)](const RoomInfoReply& reply) {
                if (done)
                    done(RoomInfo{reply, roomId});
            }));
}

void LobbyClient::listRooms(std::function<void(const QVector<RoomInfo>&)> done)
{
    getCount([this, done = std::move(done)](quint32 roomCount) {
        if (roomCount == 0) {
            if (done)
                done({});
            return;
        }
        // The walk keeps its command out and asks for the next room from the reply handler,
        // as the chained command does, so that nothing else is answered in between.
        quint32 asked = 0;
        QVector<RoomInfo> rooms;
        command(GetRoomInfoRequest{0}, [this, roomCount, asked, rooms,
                                        done](FieldReader& fields) mutable {
            const RoomInfo info{readFields<RoomInfoReply>(fields), asked};
            if (fields.failed())
                return true;
            if (info.exists())
                rooms.append(info);
            if (info.nextRoomId == noRoom || info.nextRoomId >= roomCount) {
                if (done)
                    done(rooms);
                return true;
            }
            if (info.nextRoomId <= asked) {
                fail(ProtocolError,
                     QString("room walk from %1 goes back to %2").arg(asked).arg(info.nextRoomId));
                return true;
            }
            asked = info.nextRoomId;
            const FrameWriter next = frameOf(GetRoomInfoRequest{asked});
            write(next.frame(), next.frameSize());
            return false;
        });
    });
}

bool LobbyClient::createRoom(const QString& title, const QString& password, quint32 capacity,
                             quint32 gameId, std::function<void(quint32 roomId)> done)
{
    return command(CreateRoomRequest{title, password, capacity, gameId},
                   resultReply(std::move(done)));
}

bool LobbyClient::enterRoom(
    quint32 roomId, const QString& password,
    std::function<void(quint32 result, const QVector<quint32>& members)> done)
{
    // The first packet carries the result and the member count, then one packet per member.
    bool headerRead = false;
    quint32 expected = 0;
    QVector<quint32> members;
    return command(EnterRoomRequest{roomId, password}, [=](FieldReader& fields) mutable {
        if (!headerRead) {
            const EnterRoomReply header = readFields<EnterRoomReply>(fields);
            expected = header.memberCount;
            if (fields.failed())
                return true;
            if (header.result != 0 || expected == 0) {
                if (done)
                    done(header.result, {});
                return true;
            }
            headerRead = true;
            members.reserve(int(std::min<quint32>(expected, 1024)));
            return false;
        }
        members.append(readFields<ResultReply>(fields).result);
        if (fields.failed() || quint32(members.size()) < expected)
            return fields.failed();
        if (done)
            done(0, members);
        return true;
    });
}

void LobbyClient::leaveRoom(quint32 roomId, ResultCallback done)
{
    command(LeaveRoomRequest{roomId}, resultReply(std::move(done)));
}

void LobbyClient::recruitMatch(quint32 roomId, ResultCallback done)
{
    command(RecruitMatchRequest{roomId}, resultReply(std::move(done)));
}

void LobbyClient::cancelRecruit(quint32 roomId, ResultCallback done)
{
    command(CancelRecruitRequest{roomId}, resultReply(std::move(done)));
}

void LobbyClient::applyMatch(quint32 roomId, quint32 hostId, ResultCallback done)
{
    command(ApplyMatchRequest{roomId, hostId}, resultReply(std::move(done)));
}

void LobbyClient::cancelApply(quint32 roomId, ResultCallback done)
{
    command(CancelApplyRequest{roomId}, resultReply(std::move(done)));
}

void LobbyClient::startBattle(quint32 roomId, ResultCallback done)
{
    command(StartBattleRequest{roomId}, resultReply(std::move(done)));
}

void LobbyClient::endBattle(quint32 roomId, ResultCallback done)
{
    command(EndBattleRequest{roomId}, resultReply(std::move(done)));
}

void LobbyClient::dropBattle(quint32 roomId, ResultCallback done)
{
    command(DropBattleRequest{roomId}, resultReply(std::move(done)));
}

bool LobbyClient::speak(quint32 roomId, QStringView text)
{
    return message(SpeakRequest{roomId, text.toString()});
}

bool LobbyClient::setName(const QString& name)
{
    return message(SetNameRequest{name});
}

void LobbyClient::quit()
{
    if (state == State::Open) {
        message(QuitRequest{});
        return;
    }
    if (state == State::Hello)
        fail(NormalClose, "quit before the hello was answered");
}

void LobbyClient::readFrames()
{
    // A frame is taken only when it is complete; its length is checked as soon as its prefix
    // is there, so that a bad length is caught without waiting for a payload that never comes.
    while (state == State::Hello || state == State::Open) {
        char prefix[lengthPrefix];
        if (socket->peek(prefix, lengthPrefix) < lengthPrefix)
            return;
        const quint32 size = FieldReader(prefix, lengthPrefix).u32();
        if (!isValidFrameLength(size)) {
            fail(ProtocolError, QString("frame length %1").arg(size));
            return;
        }
        if (socket->bytesAvailable() < lengthPrefix + qint64(size))
            return;
        socket->read(frameBuffer, lengthPrefix + size);
        handleFrame(frameBuffer + lengthPrefix, size);
    }
}

void LobbyClient::handleFrame(const char* payload, qsizetype size)
{
    if (state == State::Hello) {
        if (size != 4)
            fail(ProtocolError, QString("hello answer of %1 bytes").arg(size));
        else
            handleHello(FieldReader(payload, size).u32());
        return;
    }
    FieldReader fields(payload + 1, size - 1);
    switch (quint8(payload[0])) {
    case ReplyPacket:
        handleReply(fields);
        break;
    case NotifyPacket:
        handleNotification(fields);
        break;
    default:
        fail(ProtocolError, QString("packet type %1").arg(quint8(payload[0])));
    }
}

void LobbyClient::handleHello(quint32 result)
{
    if (result == 1) {
        fail(VersionMismatch, "version refused");
        return;
    }
    if (result != 0) {
        fail(ConnectionError, QString("hello refused with %1").arg(result));
        return;
    }
    state = State::Open;
    sendNextCommand();
    emit connected();
}

void LobbyClient::handleReply(FieldReader& fields)
{
    if (!commandOut) {
        fail(ProtocolError, "reply with no command out");
        return;
    }
    // The handler runs outside the queue: its callback may queue commands or end the client.
    const quint32 code = commands.first().code;
    ReplyHandler onReply = std::move(commands.first().onReply);
    const bool complete = onReply(fields);
    if (state == State::Closed)
        return;
    if (fields.failed()) {
        fail(ProtocolError, QString("reply to request %1 is short").arg(code));
        return;
    }
    if (!complete) {
        commands.first().onReply = std::move(onReply);
        return;
    }
    commands.removeFirst();
    commandOut = false;
    sendNextCommand();
}

void LobbyClient::handleNotification(FieldReader& fields)
{
    const quint32 kind = fields.u32();
    switch (kind) {
    case CloseNotice: {
        const quint32 reason = readFields<CloseNotification>(fields).reason;
        if (fields.failed())
            break;
        // The server closes the socket after its notice; ours stays open until it does.
        end(reason <= CloseDuplicateLogin ? CloseReason(reason) : ConnectionError,
            QString("close notice %1").arg(reason));
        return;
    }
    case NotifyRoomEvent: {
        const auto event = readFields<RoomEventFields>(fields);
        if (!fields.failed())
            emit roomEvent(event);
        break;
    }
    case NotifyConnectionCount: {
        const quint32 count = readFields<ConnectionCountNotification>(fields).count;
        if (!fields.failed())
            emit connectionCountChanged(count);
        break;
    }
    case NotifySystemMessage: {
        const QString text = readFields<SystemMessageNotification>(fields).message;
        if (!fields.failed())
            emit systemMessage(text);
        break;
    }
    default:
        // Kinds this client does not know are skipped, as the player's client does.
        break;
    }
    if (fields.failed())
        fail(ProtocolError, QString("notification %1 is short").arg(kind));
}

void LobbyClient::handleSocketEnd()
{
    if (state == State::Closed)
        return;
    fail(ConnectionError, socket->errorString());
}

void LobbyClient::fail(CloseReason reason, const QString& why)
{
    if (state == State::Closed)
        return;
    end(reason, why);
    socket->abort();
}

void LobbyClient::end(CloseReason reason, const QString& why)
{
    if (state == State::Closed)
        return;
    state = State::Closed;
    detail = why;
    commands.clear();
    commandOut = false;
    emit closed(reason);
}
