// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

// The lobby at the other end of the client's connection, on 127.0.0.1. While the harness brings
// the client to an input's starting point it answers every request with a valid reply; then it
// sends the input, whole or in pieces, and only takes what the client sends.
class FuzzLobby : public QObject
{
    Q_OBJECT

  public:
    static constexpr quint32 ownId = 77;
    static constexpr quint32 otherId = 78;
    static constexpr quint32 roomId = 0;

    FuzzLobby();

    bool hasClient() const { return client != nullptr; }
    bool helloReceived() const { return helloSeen; }
    // How many requests of this code the client sent in this session.
    int requestCount(quint32 code) const { return requestCounts.value(code); }
    void setAnswering(bool on) { answering = on; }
    void send(const QByteArray& bytes);

    // How an input's bytes go out: all at once; one byte or 64 bytes per event loop pass, so
    // that each piece may arrive in a read of its own; or one frame (as its length prefix says)
    // whenever the client has nothing left to do, the way a server answers.
    enum class Pace { Whole, Bytes, Frames, Chunks };

    // Starts sending input; hangs up after its last byte if told to.
    void feed(const QByteArray& input, Pace pace, bool hangUp);
    // With Pace::Frames: sends the next frame; false when none is left.
    bool sendNextFrame();
    // True once nothing waits to be sent and the client's end of the connection has received
    // every byte sent and read all of them from the kernel.
    bool takenBy(const QTcpSocket* clientEnd) const;

    // Drops the connection and forgets the session.
    void endSession();

  private:
    void acceptClient();
    void readClient();
    void handleRequest(const QByteArray& payload);
    void feedNextPiece();
    void sendInput(qsizetype length);

    QTcpServer server;
    QTcpSocket* client = nullptr;
    quint64 sentBytes = 0;
    QByteArray fromClient;
    bool helloSeen = false;
    bool answering = true;
    QHash<quint32, int> requestCounts;

    QByteArray unsent;
    Pace pace = Pace::Whole;
    bool hangUpWhenSent = false;
    QTimer feedTimer;
};
