#pragma once

#include "support/wire.h"

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

// A lobby client at the byte level: sends any bytes and checks the server's bytes exactly,
// reporting the first difference in hex.
class RawClient
{
  public:
    // Connection-count notifications reach every client at every login and logout; unless
    // told otherwise the client drops them, so that other tests can expect exact streams.
    explicit RawClient(bool keepConnectionCounts = false);

    bool connectTo(quint16 port);
    // Connects and passes the hello.
    bool open(quint16 port);
    // Opens, logs in and reads the reply; userId receives the user number.
    bool login(quint16 port, const QString& account, const QString& password,
               quint32* userId = nullptr);

    void send(const QByteArray& bytes);
    bool expect(const QByteArray& expected, int timeoutMs = 10000);
    // A request that needs a reply, then the exact reply.
    bool roundTrip(const QByteArray& request, const QByteArray& reply);
    // The server closed the connection after the given bytes (none by default).
    bool expectClosed(const QByteArray& lastBytes = {}, int timeoutMs = 10000);
    // Waits for the next whole frame.
    bool nextFrame(QByteArray& frame, int timeoutMs = 10000);
    // Stops taking bytes from the operating system, as a client that hangs would.
    void stopReading();
    QString failure() const { return lastFailure; }

  private:
    bool waitFor(qsizetype bytes, int timeoutMs);
    void collect();

    QTcpSocket socket;
    bool reading = true;
    QByteArray received;
    bool keepConnectionCounts;
    QString lastFailure;
};

// Request frames and the server's frames, built from their fields.
QByteArray request(quint32 code, const QByteArray& fields = {});
QByteArray roomEvent(quint32 kind, quint32 roomId, quint32 userId, quint32 otherId = 0,
                     quint32 value = 0, const QString& text = {});
QByteArray u32Reply(quint32 value);

#define EXPECT_BYTES(client, bytes) QVERIFY2((client).expect(bytes), qPrintable((client).failure()))
#define EXPECT_CLOSED(client, bytes)                                                               \
    QVERIFY2((client).expectClosed(bytes), qPrintable((client).failure()))
#define ROUND_TRIP(client, req, reply)                                                             \
    QVERIFY2((client).roundTrip(req, reply), qPrintable((client).failure()))
