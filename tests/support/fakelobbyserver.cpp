#include "support/fakelobbyserver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>

FakeLobbyServer::FakeLobbyServer() : server(new QTcpServer(this))
{
    server->listen(QHostAddress::LocalHost, 0);
    connect(server, &QTcpServer::newConnection, this, [this] {
        QTcpSocket* next = server->nextPendingConnection();
        if (client) {
            next->abort();
            next->deleteLater();
            return;
        }
        client = next;
        connect(client, &QTcpSocket::readyRead, this, &FakeLobbyServer::collect);
    });
}

FakeLobbyServer::~FakeLobbyServer() = default;

quint16 FakeLobbyServer::port() const
{
    return server->serverPort();
}

void FakeLobbyServer::exportAddress() const
{
    qputenv("TILEPARLOR_LOBBY_HOST", "127.0.0.1");
    qputenv("TILEPARLOR_LOBBY_PORT", QByteArray::number(port()));
}

bool FakeLobbyServer::waitForClient(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!client && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return !client.isNull();
}

void FakeLobbyServer::collect()
{
    if (client)
        received.append(client->readAll());
}

static QString hexAround(const QByteArray& bytes, int at)
{
    const int from = qMax(0, at - 8);
    return QString::fromLatin1(bytes.mid(from, 24).toHex(' ')) +
           QString(" (from byte %1)").arg(from);
}

bool FakeLobbyServer::expect(const QByteArray& expected, int timeoutMs)
{
    lastFailure.clear();
    if (!waitForClient(timeoutMs)) {
        lastFailure = "no client connected";
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (received.size() < expected.size() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        collect();
    }
    const int common = int(qMin(received.size(), expected.size()));
    for (int i = 0; i < common; ++i) {
        if (received[i] != expected[i]) {
            lastFailure = QString("client bytes differ at byte %1\n  expected %2\n  received %3")
                              .arg(i)
                              .arg(hexAround(expected, i), hexAround(received, i));
            return false;
        }
    }
    if (received.size() < expected.size()) {
        lastFailure = QString("client sent %1 of %2 expected bytes: %3")
                          .arg(received.size())
                          .arg(expected.size())
                          .arg(QString::fromLatin1(received.toHex(' ')));
        return false;
    }
    received.remove(0, expected.size());
    return true;
}

bool FakeLobbyServer::nothingMoreFrom(QObject* clientRoot, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    auto flushed = [clientRoot] {
        for (QTcpSocket* socket : clientRoot->findChildren<QTcpSocket*>()) {
            if (socket->bytesToWrite() > 0)
                return false;
        }
        return true;
    };
    while (!flushed() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // Loopback delivers a flushed write at once; one more pass lets the server read it.
    QCoreApplication::processEvents();
    collect();
    if (received.isEmpty())
        return true;
    lastFailure = "client sent unexpected bytes: " + QString::fromLatin1(received.toHex(' '));
    return false;
}

void FakeLobbyServer::send(const QByteArray& bytes)
{
    if (!client)
        return;
    client->write(bytes);
    client->flush();
}

void FakeLobbyServer::sendSplit(const QByteArray& bytes)
{
    for (char byte : bytes) {
        send(QByteArray(1, byte));
        // Let the client take this byte in a read pass of its own.
        QCoreApplication::processEvents();
    }
}

void FakeLobbyServer::disconnectClient()
{
    if (client)
        client->disconnectFromHost();
}
