// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A scripted lobby server on 127.0.0.1: checks the exact bytes the client sends and sends back
// any bytes, whole, one byte per write, or several frames joined.
class FakeLobbyServer : public QObject
{
    Q_OBJECT

  public:
    FakeLobbyServer();

    quint16 port() const;
    // Points the client at this server (TILEPARLOR_LOBBY_HOST/PORT).
    void exportAddress() const;

    // Waits for the next bytes from the client and compares them with the expected ones; on a
    // mismatch failure() tells where.
    bool expect(const QByteArray& expected, int timeoutMs = 5000);
    // True when the client sent nothing beyond what expect() consumed, once every socket under
    // clientRoot has flushed its writes.
    bool nothingMoreFrom(QObject* clientRoot, int timeoutMs = 5000);
    QString failure() const { return lastFailure; }

    void send(const QByteArray& bytes);
    void sendSplit(const QByteArray& bytes);
    void disconnectClient();

  private:
    void collect();

    QTcpServer* server;
    QPointer<QTcpSocket> client;
    QByteArray received;
    QString lastFailure;
};

#define EXPECT_CLIENT_BYTES(server, bytes)                                                         \
    QVERIFY2((server).expect(bytes), qPrintable((server).failure()))
// A scripted step of a fixture with a server, which tells why the step failed.
#define VERIFY_STEP(fixture, step) QVERIFY2((fixture).step, qPrintable((fixture).server.failure()))
#define EXPECT_NOTHING_MORE(fixture) VERIFY_STEP(fixture, server.nothingMoreFrom((fixture).root()))
