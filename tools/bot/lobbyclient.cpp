#include "lobbyclient.h"

#include <QTcpSocket>

#include <algorithm>

LobbyClient::LobbyClient(QObject* parent) : QObject(parent) {}

LobbyClient::~LobbyClient() = default;

void LobbyClient::connectToServer(const QString& host, quint16 port)
{
    if (socket)
        return;
    socket = new QTcpSocket(this);
    state = State::Hello;
    connect(socket, &QTcpSocket::connected, this, [this] {
        const FrameWriter hello = FrameWriter::clientHello();
        write(hello.frame(), hello.frameSize());
    });
    connect(socket, &QTcpSocket::readyRead, this, &LobbyClient::readFrames);
    connect(socket, &QTcpSocket::disconnected, this, &LobbyClient::handleSocketEnd);
    connect(socket, &QTcpSocket::errorOccurred, this, &LobbyClient::handleSocketEnd);
    socket->connectToHost(host, port);
}

void LobbyClient::write(const char* data, qsizetype size)
{
    if (socket->write(data, size) != size)
        fail(ConnectionError, "write failed: " + socket->errorString());
}

void LobbyClient::command(const FrameWriter& request, ReplyHandler onReply)
{
    if (state == State::Closed)
        return;
    if (state == State::Open && !commandOut && commands.isEmpty()) {
        commands.append({request.firstField(), QByteArray(), std::move(onReply)});
        commandOut = true;
        write(request.frame(), request.frameSize());
        return;
    }
    commands.append({request.firstField(), QByteArray(request.frame(), request.frameSize()),
                     std::move(onReply)});
}

void LobbyClient::sendNextCommand()
{
    if (state != State::Open || commandOut || commands.isEmpty())
        return;
    commandOut = true;
    const QByteArray frame = std::exchange(commands.first().frame, QByteArray());
    write(frame.constData(), frame.size());
}

bool LobbyClient::message(const FrameWriter& request)
{
    if (request.overflowed() || state != State::Open)
        return false;
    write(request.frame(), request.frameSize());
    return true;
}

static std::function<bool(FieldReader&)> resultReply(LobbyClient::ResultCallback done)
{
    return [done = std::move(done)](FieldReader& fields) {
        const quint32 result = fields.u32();
        if (!fields.failed() && done)
            done(result);
        return true;
    };
}

bool LobbyClient::authenticate(const QString& account, const QString& password,
                               std::function<void(const LoginReply&)> done)
{
    FrameWriter request = FrameWriter::request(Authenticate);
    request.str(account).str(password);
    if (request.overflowed())
        return false;
    command(request, [done = std::move(done)](FieldReader& fields) {
        const LoginReply reply = LoginReply::read(fields);
        if (!fields.failed() && done)
            done(reply);
        return true;
    });
    return true;
}

void LobbyClient::getName(quint32 userId,
                          std::function<void(quint32 result, const QString& name)> done)
{
    FrameWriter request = FrameWriter::request(GetName);
    request.u32(userId);
    command(request, [done = std::move(done)](FieldReader& fields) {
        const quint32 result = fields.u32();
        const QString name = fields.string();
        if (!fields.failed() && done)
            done(result, name);
        return true;
    });
}

void LobbyClient::getCount(std::function<void(quint32 roomCount)> done)
{
    command(FrameWriter::request(GetCount), resultReply(std::move(done)));
}

void LobbyClient::getRoomInfo(quint32 roomId, std::function<void(const RoomInfo&)> done)
{
    FrameWriter request = FrameWriter::request(GetRoomInfo);
    request.u32(roomId);
    command(request, [roomId, done = std::move(done)](FieldReader& fields) {
        const RoomInfo info{RoomInfoReply::read(fields), roomId};
        if (!fields.failed() && done)
            done(info);
        return true;
    });
}

void LobbyClient::listRooms(std::function<void(const QVector<RoomInfo>&)> done)
{
    getCount([this, done = std::move(done)](quint32 roomCount) {
        if (roomCount == 0) {
            if (done)
                done({});
            return;
        }
        FrameWriter first = FrameWriter::request(GetRoomInfo);
        first.u32(0);
        // The walk keeps its command out and asks for the next room from the reply handler,
        // as the chained command does, so that nothing else is answered in between.
        quint32 asked = 0;
        QVector<RoomInfo> rooms;
        command(first, [this, roomCount, asked, rooms, done](FieldReader& fields) mutable {
            const RoomInfo info{RoomInfoReply::read(fields), asked};
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
            FrameWriter next = FrameWriter::request(GetRoomInfo);
            next.u32(asked);
            write(next.frame(), next.frameSize());
            return false;
        });
    });
}

bool LobbyClient::createRoom(const QString& title, const QString& password, quint32 capacity,
                             quint32 gameId, std::function<void(quint32 roomId)> done)
{
    FrameWriter request = FrameWriter::request(CreateRoom);
    request.str(title).str(password).u32(capacity).u32(gameId);
    if (request.overflowed())
        return false;
    command(request, resultReply(std::move(done)));
    return true;
}

bool LobbyClient::enterRoom(
    quint32 roomId, const QString& password,
    std::function<void(quint32 result, const QVector<quint32>& members)> done)
{
    FrameWriter request = FrameWriter::request(EnterRoom);
    request.u32(roomId).str(password);
    if (request.overflowed())
        return false;
    // The first packet carries the result and the member count, then one packet per member.
    bool headerRead = false;
    quint32 expected = 0;
    QVector<quint32> members;
    command(request, [=](FieldReader& fields) mutable {
        if (!headerRead) {
            const quint32 result = fields.u32();
            expected = fields.u32();
            if (fields.failed())
                return true;
            if (result != 0 || expected == 0) {
                if (done)
                    done(result, {});
                return true;
            }
            headerRead = true;
            members.reserve(int(std::min<quint32>(expected, 1024)));
            return false;
        }
        members.append(fields.u32());
        if (fields.failed() || quint32(members.size()) < expected)
            return fields.failed();
        if (done)
            done(0, members);
        return true;
    });
    return true;
}

void LobbyClient::roomCommand(RequestCode code, quint32 roomId, ResultCallback done)
{
    command(FrameWriter::request(code).u32(roomId), resultReply(std::move(done)));
}

void LobbyClient::leaveRoom(quint32 roomId, ResultCallback done)
{
    roomCommand(LeaveRoom, roomId, std::move(done));
}

void LobbyClient::recruitMatch(quint32 roomId, ResultCallback done)
{
    roomCommand(RecruitMatch, roomId, std::move(done));
}

void LobbyClient::cancelRecruit(quint32 roomId, ResultCallback done)
{
    roomCommand(CancelRecruit, roomId, std::move(done));
}

void LobbyClient::applyMatch(quint32 roomId, quint32 hostId, ResultCallback done)
{
    command(FrameWriter::request(ApplyMatch).u32(roomId).u32(hostId), resultReply(std::move(done)));
}

void LobbyClient::cancelApply(quint32 roomId, ResultCallback done)
{
    roomCommand(CancelApply, roomId, std::move(done));
}

void LobbyClient::startBattle(quint32 roomId, ResultCallback done)
{
    roomCommand(StartBattle, roomId, std::move(done));
}

void LobbyClient::endBattle(quint32 roomId, ResultCallback done)
{
    roomCommand(EndBattle, roomId, std::move(done));
}

void LobbyClient::dropBattle(quint32 roomId, ResultCallback done)
{
    roomCommand(DropBattle, roomId, std::move(done));
}

bool LobbyClient::speak(quint32 roomId, QStringView text)
{
    return message(FrameWriter::request(Speak).u32(roomId).str(text));
}

bool LobbyClient::setName(const QString& name)
{
    return message(FrameWriter::request(SetName).str(name));
}

void LobbyClient::quit()
{
    if (state == State::Open) {
        message(FrameWriter::request(Quit));
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
        const quint32 reason = fields.u32();
        if (fields.failed())
            break;
        // The server closes the socket after its notice; ours stays open until it does.
        end(reason <= CloseDuplicateLogin ? CloseReason(reason) : ConnectionError,
            QString("close notice %1").arg(reason));
        return;
    }
    case NotifyRoomEvent: {
        const RoomEventFields event = RoomEventFields::read(fields);
        if (!fields.failed())
            emit roomEvent(event);
        break;
    }
    case NotifyConnectionCount: {
        const quint32 count = fields.u32();
        if (!fields.failed())
            emit connectionCountChanged(count);
        break;
    }
    case NotifySystemMessage: {
        const QString text = fields.string();
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
