// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/childscenario.h"
#include "support/dialogtesting.h"

#include <QAction>
#include <QTcpSocket>

namespace
{
// A connection past the hello that records how it closed.
struct Session : ConnectedLobby {
    ProtocolSocket& socket = client;
    QSignalSpy closed{&socket, &ProtocolSocket::close};
};

// Each ends the process through fatalError with "[ProtocolSocket] <message>"; the runner keeps the
// event loop turning until it does.
struct FatalPath {
    const char* name;
    const char* message;
    void (*run)(Session&);
};

void reply(Session& s, const QByteArray& fields)
{
    s.server.send(replyFrame(fields));
    QSignalSpy(&s.socket, &ProtocolSocket::recvReply).wait(5000);
    s.socket.prepareRecvReply(true);
}

const FatalPath fatalPaths[] = {
    {"frame of 1025", "受信サイズがでかすぎます",
     [](Session& s) { s.server.send(Wire().u32(1025) + QByteArray(1025, 0)); }},
    {"request of 1025", "send buffer overflow",
     [](Session& s) {
         s.socket.beginMessage();
         s.socket.writeBytes(QByteArray(maxPayload, 'q').constData(), maxPayload);
         s.socket.writeBytes("!", 1);
     }},
    {"string without NUL", "recv buffer overflow",
     [](Session& s) {
         reply(s, QByteArray(maxPayload - 1, 'a'));
         s.socket.readString();
     }},
    {"short reply after a long one", "recv buffer overflow",
     [](Session& s) {
         reply(s, Wire().u32(1).u32(2).u32(3));
         s.socket.releaseRecvBuffer();
         reply(s, Wire().u32(1));
         s.socket.readUInt32();
         s.socket.readUInt32();
     }},
    {"short close notice", "recv buffer overflow",
     [](Session& s) { s.server.send(frame(Wire().byte(1).u32(CloseNotice).byte(0))); }},
};
} // namespace

class ProtocolSocketTest : public QObject
{
    Q_OBJECT

  private slots:
    // What the server sends in place of its hello, or after it; none sends anything for a
    // disconnect.
    void closeReason_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("reason");
        // Nothing that came in the same pass as the end is reported: neither the hello nor a reply.
        const QByteArray passed = serverHello(0) + replyFrame({});
        QTest::newRow("version refused") << serverHello(1) << 3;
        QTest::newRow("hello result 7") << serverHello(7) << 4;
        QTest::newRow("hello of 5 bytes") << frame(Wire().u32(0).byte(0)) << 4;
        for (quint32 notice : {0, 1, 2, 3, 9})
            QTest::addRow("notice %u", notice)
                << passed + frameBytes(CloseNotification{notice}) << int(notice < 3 ? notice : 4);
        QTest::newRow("empty payload") << passed + frame({}) << 4;
        QTest::newRow("type byte 2") << passed + frame(Wire().byte(2).u32(0)) << 4;
        QTest::newRow("peer disconnect") << QByteArray() << 4;
    }
    void closeReason()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, reason);
        Session s;
        s.server.exportAddress();
        s.socket.connectToServer();
        EXPECT_CLIENT_BYTES(s.server, clientHello());
        QSignalSpy connected(&s.socket, &ProtocolSocket::connected);
        QSignalSpy packets(&s.socket, &ProtocolSocket::recvReply);
        QSignalSpy notifies(&s.socket, &ProtocolSocket::recvNotify);
        if (bytes.isEmpty())
            s.server.disconnectClient();
        // Nor is anything that comes after the end.
        s.server.send(bytes + replyFrame({}) + frameBytes(SystemMessageNotification{"x"}));
        QTRY_COMPARE(s.closed.count(), 1);
        QCOMPARE(s.closed.at(0).at(0).toInt(), reason);
        // The hang-up that follows reports nothing more.
        s.server.disconnectClient();
        QTRY_COMPARE(s.socket.findChild<QTcpSocket*>()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(s.closed.count() + connected.count() + packets.count() + notifies.count(), 1);
        QVERIFY(!s.socket.prepareRecvNotify(false));
    }

    // The largest reply, one byte per write, is signalled once, when whole; frames that arrive
    // joined give one signal each, the reply before the notifications.
    void framesInArriveWholeAndReplyFirst()
    {
        Session s;
        VERIFY_STEP(s, open());
        QStringList order;
        connect(&s.socket, &ProtocolSocket::recvReply, this, [&] { order << "reply"; });
        connect(&s.socket, &ProtocolSocket::recvNotify, this, [&] { order << "notify"; });
        const QByteArray largest = frameBytes(NameReply{42, "名前" + QString(1012, 'x')});
        s.server.sendSplit(largest.chopped(1));
        QVERIFY(order.isEmpty());
        s.server.send(largest.right(1));
        QTRY_COMPARE(order, QStringList({"reply"}));
        QVERIFY(s.socket.prepareRecvReply(true));
        QCOMPARE(s.socket.readUInt32(), 42u);
        QCOMPARE(s.socket.readString(), "名前" + QString(1012, 'x'));
        s.socket.releaseRecvBuffer();
        QVERIFY(!s.socket.prepareRecvReply(false));

        s.server.send(frameBytes(ConnectionCountNotification{11}) + replyFrame({}) +
                      frameBytes(SystemMessageNotification{"hi"}));
        QTRY_COMPARE(order, QStringList({"reply", "reply", "notify"}));
        for (quint32 kind : {quint32(NotifyConnectionCount), quint32(NotifySystemMessage), 0u}) {
            QCOMPARE(s.socket.prepareRecvNotify(false), kind != 0);
            QCOMPARE(kind ? s.socket.readUInt32() : 0u, kind);
            s.socket.releaseRecvBuffer();
        }
        QVERIFY(s.closed.isEmpty());
    }

    // Frames leave whole, one at a time, in call order, and a message without fields sends
    // nothing. A reply that came without a command is read by the next one; the command's target
    // stays disabled until it ends, whatever messages go out meanwhile.
    void framesLeaveInOrderAndCommandsTakeRepliesInOrder()
    {
        Session s;
        VERIFY_STEP(s, open());
        s.server.send(frameBytes(ResultReply{1}));
        QVERIFY(QSignalSpy(&s.socket, &ProtocolSocket::recvReply).wait(5000));
        QWidget target;
        QList<quint32> read;
        QAction reader;
        connect(&reader, &QAction::triggered, this, [&] {
            s.socket.prepareRecvReply(true);
            read << s.socket.readUInt32();
            s.socket.endCommand();
        });
        const QByteArray largest(maxPayload, 'q');
        for (quint32 next : {7u, 8u}) {
            QSignalSpy state(&s.socket, &ProtocolSocket::changeCommandState);
            s.socket.beginMessage();
            s.socket.writeBytes(largest.constData(), maxPayload);
            s.socket.sendMessage();
            s.socket.beginCommand(&reader, SLOT(trigger()), &target, SLOT(setEnabled(bool)));
            s.socket.writeUInt32(next);
            s.socket.sendCommand();
            s.socket.beginMessage();
            s.socket.sendMessage();
            s.socket.beginMessage();
            s.socket.writeString("");
            s.socket.sendMessage();
            // Only the first frame is in the TCP socket; the others wait for its bytesWritten.
            QCOMPARE(s.socket.findChild<QTcpSocket*>()->bytesToWrite(), qint64(maxPayload + 4));
            QCOMPARE(state.count(), 1);
            QTRY_VERIFY(!target.isEnabled());
            EXPECT_CLIENT_BYTES(s.server,
                                frame(largest) + frame(Wire().u32(next)) + frame(QByteArray(1, 0)));
            s.server.send(frameBytes(ResultReply{next}));
            QTRY_VERIFY(target.isEnabled());
        }
        QCOMPARE(read, QList<quint32>({1, 7}));
        EXPECT_NOTHING_MORE(s);
    }

    // The wire library's encoders, which the other suites build their frames with, against bytes
    // written out by hand.
    void goldenFrames()
    {
        const std::pair<QByteArray, QByteArray> goldens[] = {
            {clientHello(), "08000000304a574b02000000"},
            {serverHello(1), "0400000001000000"},
            {authenticateRequest("id", "pw"), "0a00000004000000696400707700"},
            {frameBytes(ApplyMatchRequest{3, 0x01020304}), "0c000000140000000300000004030201"},
            {frameBytes(RoomInfoReply{0, 1, "x", 2, 8, 0, 5}),
             "1b000000000000000001000000780002000000080000000000000005000000"},
            {authenticateReply(0, 77, 12, "hi"), "1000000000000000004d0000000c000000686900"},
            {frameBytes(ConnectionCountNotification{13}), "0900000001020000000d000000"},
            {roomEventFrame(4, {EventSpeak, 5, 0, "あ"}),
             "210000000101000000000000000400000005000000000000000000000000000000e3818200"},
        };
        for (const auto& [frame, hex] : goldens)
            QCOMPARE(frame.toHex(), hex);
    }

    void fatalPath_data()
    {
        QTest::addColumn<QString>("message");
        for (const FatalPath& path : fatalPaths)
            QTest::newRow(path.name) << QString("[ProtocolSocket] ") + path.message;
    }
    void fatalPath()
    {
        QFETCH(QString, message);
        const ScenarioResult result = runScenario(QTest::currentDataTag());
        VERIFY_FATAL_EXIT(result, message);
        QVERIFY2(result.stdErr.contains("[box] critical error | " + message),
                 qPrintable(result.stdErr));
        QCOMPARE(result.stdErr.count("critical error: "), 1);
    }
};

static int runFatalPath(const QString& name)
{
    Session s;
    if (!s.open())
        return 90;
    // The oversized frame's box must stay up, and be the one that ends the program, while more
    // bytes arrive and the server hangs up.
    auto answers = answerEveryModalWindow([&s, name](QWidget*) {
        if (name != fatalPaths[0].name)
            return;
        auto* connection = s.socket.findChild<QTcpSocket*>();
        s.server.send(QByteArray(8, 0));
        s.server.disconnectClient();
        (void)QTest::qWaitFor(
            [&] { return connection->state() == QAbstractSocket::UnconnectedState; }, 5000);
    });
    for (const FatalPath& path : fatalPaths)
        if (name == path.name)
            path.run(s);
    return keepRunningUntilExit();
}

TILEPARLOR_TEST_MAIN_WITH_SCENARIOS(ProtocolSocketTest, runFatalPath)
#include "tst_protocolsocket.moc"
