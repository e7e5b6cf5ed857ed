// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "support/wire.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QtEndian>

// A lobby client at the byte level: sends any bytes and checks the server's bytes exactly,
// warning of any difference. Connection-count notifications reach everyone at every login and
// logout; unless kept, they are dropped so that the other streams stay exact.
struct RawClient {
    explicit RawClient(bool keepCounts = false) : keepCounts(keepCounts) {}

    // From a loopback address of its own when one is given, as from another network. Without
    // address sharing, the port chosen is none that a recent connection from that address
    // still holds in TIME_WAIT, which would make the connection fail.
    bool open(quint16 port, bool hello = true, const QHostAddress& from = {})
    {
        if (!from.isNull() && !socket.bind(from, 0, QAbstractSocket::DontShareAddress))
            return false;
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(10000))
            return false;
        send(hello ? clientHello() : QByteArray());
        return !hello || expect(serverHello(0));
    }

    // Logs in as that account (the suites give every account the password "secret") and
    // checks the user number, whatever the count and the message. Without an account, the
    // connection stays past the hello only.
    bool login(quint16 port, const QString& account, quint32 userId, const QHostAddress& from = {})
    {
        const bool opened = open(port, true, from);
        if (!opened || account.isEmpty())
            return opened;
        send(authenticateRequest(account, "secret"));
        waitFor(13);
        waitFor(4 + qFromLittleEndian<quint32>(received.data()));
        const QByteArray fields = received.mid(5);
        FieldReader in(fields);
        const LoginReply reply = readFields<LoginReply>(in);
        return expect(authenticateReply(0, userId, reply.connectionCount, reply.message));
    }

    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    bool expect(const QByteArray& bytes)
    {
        waitFor(bytes.size());
        if (received.startsWith(bytes))
            return received.remove(0, bytes.size()), true;
        qWarning().noquote() << "expected" << bytes.toHex(' ') << "\nreceived"
                             << received.toHex(' ');
        return false;
    }

    // These bytes, then the end of the connection.
    bool expectClosed(const QByteArray& lastBytes = {})
    {
        waitFor(1 << 30);
        return expect(lastBytes) && received.isEmpty() &&
               socket.state() != QAbstractSocket::ConnectedState;
    }

    // Until that many bytes or the end of the connection, for at most 10 s.
    void waitFor(qsizetype bytes)
    {
        const QDeadlineTimer deadline(10000);
        bool open = true;
        while (reading && open && received.size() < bytes && !deadline.hasExpired()) {
            open = socket.state() == QAbstractSocket::ConnectedState;
            socket.waitForReadyRead(20);
            received += socket.readAll();
            const QByteArray count = frameBytes(ConnectionCountNotification{}).mid(4, 5);
            for (qsizetype at = 0; !keepCounts && received.size() - at >= 4;) {
                const qsizetype length = qFromLittleEndian<quint32>(received.data() + at) + 4;
                if (length == 13 && received.mid(at + 4, 5) == count)
                    received.remove(at, 13);
                else
                    at += length;
            }
        }
    }

    QTcpSocket socket;
    QByteArray received;
    bool keepCounts;
    bool reading = true;
};
