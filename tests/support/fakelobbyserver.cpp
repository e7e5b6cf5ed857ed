// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/fakelobbyserver.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

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

quint16 FakeLobbyServer::port() const
{
    return server->serverPort();
}

void FakeLobbyServer::exportAddress() const
{
    qputenv("TILEPARLOR_LOBBY_HOST", "127.0.0.1");
    qputenv("TILEPARLOR_LOBBY_PORT", QByteArray::number(port()));
}

void FakeLobbyServer::collect()
{
    if (client)
        received.append(client->readAll());
}

bool FakeLobbyServer::expect(const QByteArray& expected, int timeoutMs)
{
    lastFailure.clear();
    (void)QTest::qWaitFor([&] { return collect(), received.size() >= expected.size(); }, timeoutMs);
    if (received.startsWith(expected)) {
        received.remove(0, expected.size());
        return true;
    }
    lastFailure =
        QString("client bytes differ%1\n  expected %2\n  received %3")
            .arg(client ? "" : " (no client connected)", expected.toHex(' '), received.toHex(' '));
    return false;
}

bool FakeLobbyServer::nothingMoreFrom(QObject* clientRoot, int timeoutMs)
{
    const auto flushed = [clientRoot] {
        for (QTcpSocket* socket : clientRoot->findChildren<QTcpSocket*>())
            if (socket->bytesToWrite() > 0)
                return false;
        return true;
    };
    (void)QTest::qWaitFor(flushed, timeoutMs);
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
