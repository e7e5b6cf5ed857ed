// SPDX-License-Identifier: GPL-3.0-or-later
#include "tcptransport.h"

#include "connection.h"
#include "lobbywire.h"

#include <QSslSocket>
#include <QTimer>

void SocketReaper::closeAfterFlush(QTcpSocket* socket)
{
    ++count;
    socket->setParent(this);
    // Whatever the peer still sends is of no interest any more.
    connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QObject::destroyed, this, [this] {
        if (--count == 0)
            emit allClosed();
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(lingerMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

TcpTransport::TcpTransport(QTcpSocket* socket, SocketReaper& reaper)
    : socket(socket), reaper(reaper), choosing(qobject_cast<QSslSocket*>(socket) != nullptr)
{
}

TcpTransport::~TcpTransport()
{
    if (QTcpSocket* own = release()) {
        own->abort();
        own->deleteLater();
    }
}

void TcpTransport::attach(Connection* connection)
{
    // The connection may destroy this transport from inside these handlers, so each one
    // touches nothing after handing over.
    QObject::connect(socket, &QTcpSocket::readyRead, connection,
                     [this, connection] { readAll(connection); });
    QObject::connect(socket, &QTcpSocket::disconnected, connection,
                     [connection] { connection->transportEnded("closed by the client"); });
    QObject::connect(socket, &QTcpSocket::errorOccurred, connection,
                     [connection, socket = socket](QAbstractSocket::SocketError error) {
                         if (error != QAbstractSocket::RemoteHostClosedError)
                             connection->transportEnded("socket error: " + socket->errorString());
                     });
    readAll(connection);
}

bool TcpTransport::chooseTls(Connection* connection)
{
    char first = 0;
    // In its unencrypted mode a QSslSocket leaves peeked bytes to the handshake.
    if (socket->peek(&first, 1) != 1)
        return false;
    choosing = false;
    if (quint8(first) != tlsHandshakeByte)
        return true;
    connection->markEncrypted();
    static_cast<QSslSocket*>(socket)->startServerEncryption();
    // What follows is the handshake; the readyRead after it brings the hello, decrypted.
    return false;
}

void TcpTransport::readAll(Connection* connection)
{
    static char buffer[64 * 1024];
    if (choosing && socket && !chooseTls(connection))
        return;
    while (socket && socket->bytesAvailable() > 0) {
        const qint64 count = socket->read(buffer, sizeof buffer);
        if (count <= 0)
            return;
        connection->receive(QByteArrayView(buffer, count));
        // An ended connection has dropped this transport: touch nothing more.
        if (connection->isEnded())
            return;
    }
}

void TcpTransport::write(const QByteArray& bytes)
{
    if (socket)
        socket->write(bytes);
}

qint64 TcpTransport::unsentBytes() const
{
    return socket ? socket->bytesToWrite() : 0;
}

QTcpSocket* TcpTransport::release()
{
    QTcpSocket* own = socket;
    socket = nullptr;
    if (own)
        own->disconnect();
    return own;
}

void TcpTransport::closeAfterFlush()
{
    if (QTcpSocket* own = release())
        reaper.closeAfterFlush(own);
}

void TcpTransport::abort()
{
    if (QTcpSocket* own = release()) {
        own->abort();
        own->deleteLater();
    }
}
