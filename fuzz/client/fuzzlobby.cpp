// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzzlobby.h"

#include "support/lobbyframes.h"

#include <QTcpSocket>
#include <QtEndian>

#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace
{
QString nameOf(quint32 userId)
{
    return userId == FuzzLobby::ownId ? QStringLiteral("たろう") : QStringLiteral("じろう");
}

// The room every session enters: a room of the game, with both users in it.
RoomInfo fuzzRoom()
{
    RoomInfo info;
    info.title = "対戦部屋";
    info.userCount = 2;
    info.gameId = 0;
    return info;
}

// A valid answer to each request the client sends while it is brought to its starting point;
// requests without a reply, and those whose reply an input gives, get none. in holds the fields
// after the code.
QByteArray answerTo(quint32 code, FieldReader& in)
{
    switch (code) {
    case Authenticate:
        return authenticateReply(0, FuzzLobby::ownId, 12, "本日のお知らせ");
    case GetName:
        return nameReply(0, nameOf(readFields<GetNameRequest>(in).userId));
    case GetCount:
        return frameBytes(ResultReply{3});
    case GetRoomInfo:
        return roomInfoReply(fuzzRoom());
    case EnterRoom:
        return enteredReply({FuzzLobby::ownId, FuzzLobby::otherId});
    case RecruitMatch:
    case ApplyMatch:
        return frameBytes(ResultReply{0});
    default:
        return {};
    }
}
} // namespace

FuzzLobby::FuzzLobby()
{
    if (!server.listen(QHostAddress::LocalHost, 0))
        qFatal("the fuzz lobby cannot listen on 127.0.0.1");
    qputenv("TILEPARLOR_LOBBY_HOST", "127.0.0.1");
    qputenv("TILEPARLOR_LOBBY_PORT", QByteArray::number(server.serverPort()));
    connect(&server, &QTcpServer::newConnection, this, &FuzzLobby::acceptClient);
    feedTimer.setInterval(0);
    connect(&feedTimer, &QTimer::timeout, this, &FuzzLobby::feedNextPiece);
}

void FuzzLobby::acceptClient()
{
    while (QTcpSocket* next = server.nextPendingConnection()) {
        if (client) {
            next->abort();
            next->deleteLater();
            continue;
        }
        client = next;
        // The harness waits for bytes, never for time: no write may wait for an acknowledgement.
        client->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        connect(client, &QTcpSocket::readyRead, this, &FuzzLobby::readClient);
    }
}

void FuzzLobby::readClient()
{
    fromClient += client->readAll();
    while (fromClient.size() >= lengthPrefix) {
        const qsizetype length = qFromLittleEndian<quint32>(fromClient.constData());
        if (fromClient.size() < lengthPrefix + length)
            return;
        const QByteArray payload = fromClient.mid(lengthPrefix, length);
        fromClient.remove(0, lengthPrefix + length);
        if (!helloSeen) {
            helloSeen = true;
            if (answering)
                send(serverHello(0));
            continue;
        }
        handleRequest(payload);
    }
}

void FuzzLobby::handleRequest(const QByteArray& payload)
{
    FieldReader in(payload);
    const quint32 code = in.u32();
    ++requestCounts[code];
    if (answering)
        send(answerTo(code, in));
}

void FuzzLobby::send(const QByteArray& bytes)
{
    if (!client || bytes.isEmpty())
        return;
    sentBytes += quint64(qMax(qint64(0), client->write(bytes)));
    client->flush();
}

void FuzzLobby::feed(const QByteArray& input, Pace inputPace, bool hangUp)
{
    answering = false;
    unsent = input;
    pace = inputPace;
    hangUpWhenSent = hangUp;
    if (unsent.isEmpty()) {
        sendInput(0);
        return;
    }
    switch (pace) {
    case Pace::Whole:
        sendInput(unsent.size());
        break;
    case Pace::Frames:
        sendNextFrame();
        break;
    case Pace::Bytes:
    case Pace::Chunks:
        feedNextPiece();
        if (!unsent.isEmpty())
            feedTimer.start();
        break;
    }
}

void FuzzLobby::feedNextPiece()
{
    sendInput(pace == Pace::Bytes ? 1 : 64);
    if (unsent.isEmpty())
        feedTimer.stop();
}

bool FuzzLobby::sendNextFrame()
{
    if (unsent.isEmpty())
        return false;
    // A length beyond the input sends the rest; the client stops at such a length anyway.
    const qsizetype length = unsent.size() < lengthPrefix
                                 ? unsent.size()
                                 : lengthPrefix + qFromLittleEndian<quint32>(unsent.constData());
    sendInput(length);
    return true;
}

// Takes up to length bytes off the input; after the last one the hang-up follows, so that the
// client reads what is buffered before it.
void FuzzLobby::sendInput(qsizetype length)
{
    length = qBound(qsizetype(0), length, unsent.size());
    send(unsent.first(length));
    unsent.remove(0, length);
    if (unsent.isEmpty() && hangUpWhenSent && client) {
        hangUpWhenSent = false;
        client->disconnectFromHost();
    }
}

bool FuzzLobby::takenBy(const QTcpSocket* clientEnd) const
{
    if (feedTimer.isActive() || (client && client->bytesToWrite() > 0))
        return false;
    const int descriptor = int(clientEnd->socketDescriptor());
    if (descriptor < 0)
        return true;
    tcp_info info = {};
    socklen_t size = sizeof info;
    int unread = 0;
    if (getsockopt(descriptor, IPPROTO_TCP, TCP_INFO, &info, &size) != 0 ||
        ioctl(descriptor, FIONREAD, &unread) != 0)
        return true;
    return info.tcpi_bytes_received >= sentBytes && unread == 0;
}

void FuzzLobby::endSession()
{
    feedTimer.stop();
    unsent.clear();
    if (client) {
        client->abort();
        delete client;
        client = nullptr;
    }
    fromClient.clear();
    sentBytes = 0;
    helloSeen = false;
    answering = true;
    requestCounts.clear();
}
