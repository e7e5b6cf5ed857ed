// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "transport.h"

#include <QObject>

class Connection;
class QTcpSocket;

// Keeps closing sockets alive until they have flushed, independently of their connection, and
// aborts those whose peer does not take the last bytes in time.
class SocketReaper : public QObject
{
    Q_OBJECT

  public:
    explicit SocketReaper(int lingerMs) : lingerMs(lingerMs) {}
    void closeAfterFlush(QTcpSocket* socket);
    int lingering() const { return count; }

  signals:
    void allClosed();

  private:
    const int lingerMs;
    int count = 0;
};

// A connection's transport over a TCP socket, which a QSslSocket turns into TLS when the
// client's first byte asks for it.
class TcpTransport : public Transport
{
  public:
    TcpTransport(QTcpSocket* socket, SocketReaper& reaper);
    ~TcpTransport() override;

    // Starts delivering the socket's bytes and its end to the connection.
    void attach(Connection* connection);

    void write(const QByteArray& bytes) override;
    qint64 unsentBytes() const override;
    void closeAfterFlush() override;
    void abort() override;

  private:
    // Starts TLS when the first byte is a handshake's; true once the choice is made.
    bool chooseTls(Connection* connection);
    void readAll(Connection* connection);
    QTcpSocket* release();

    QTcpSocket* socket;
    SocketReaper& reaper;
    // A TLS-capable socket whose first byte has not come yet: it decides between TLS and plain.
    bool choosing;
};
