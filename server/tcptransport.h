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

// A connection's transport over a TCP socket.
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
    void readAll(Connection* connection);
    QTcpSocket* release();

    QTcpSocket* socket;
    SocketReaper& reaper;
};
