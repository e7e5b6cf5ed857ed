#include "rooms/chatroomform.h"
#include "rooms/chatroomlistform.h"
#include "support/dialogtesting.h"
#include "support/lobbyframes.h"
#include "support/lobbywindow.h"

#include <QListWidget>
#include <QPlainTextEdit>

namespace
{
constexpr quint32 taro = LobbyWindow::ownId;

QString logOf(const QObject* owner)
{
    return child<QPlainTextEdit>(owner, "textLog")->toPlainText();
}

ChatRoomForm* openRoom(LobbyWindow& run, quint32 roomId)
{
    return run.openRoom(roomId, RoomInfo(), {{taro, "たろう"}});
}

QByteArray systemMessage(const QString& text)
{
    return notifyFrame(NotifySystemMessage, Wire().str(text));
}

// Notifications are handled in arrival order: once a system message sent after them shows,
// everything before it went through the router.
bool routedUpTo(LobbyWindow& run, const QString& marker)
{
    run.server.send(systemMessage(marker));
    return QTest::qWaitFor([&] { return textOf(run.window.get(), "lineSysMessage") == marker; },
                           5000);
}

#define ROUTED(run, marker) QVERIFY(routedUpTo(run, marker))
} // namespace

class NotificationsTest : public QObject
{
    Q_OBJECT

  private slots:
    void countAndSystemMessage();
    void dropped_data();
    void dropped();
    void eventsOfALoadingRoomAreDropped();
    void heldEventKeepsArrivalOrderAcrossRooms();
    void nestedRunHandlesTheHeadEventOnce();
};

void NotificationsTest::countAndSystemMessage()
{
    LobbyWindow run;
    VERIFY_STEP(run, named());
    // Before the list exists the count is only kept; unknown kinds are skipped.
    run.server.send(notifyFrame(NotifyConnectionCount, Wire().u32(33)) +
                    notifyFrame(9, Wire().u32(1)));
    ROUTED(run, "メンテナンスのお知らせ");
    VERIFY_STEP(run, listShown());
    QCOMPARE(textOf(run.roomList(), "lineConnection"), QString("33"));

    QByteArray burst;
    for (quint32 count = 1; count <= 200; ++count)
        burst += notifyFrame(NotifyConnectionCount, Wire().u32(count)) +
                 roomEventFrame(count, {EventSpeak, taro, 0, "誰もいない部屋"});
    run.server.send(burst);
    ROUTED(run, "done");
    QCOMPARE(textOf(run.roomList(), "lineConnection"), QString("200"));
    QVERIFY(!run.socket()->prepareRecvNotify(false));
}

void NotificationsTest::dropped_data()
{
    QTest::addColumn<quint32>("roomId");
    QTest::addColumn<quint32>("kind");
    QTest::newRow("room without a tab") << 7u << quint32(EventSpeak);
    QTest::newRow("kind above 9") << 4u << 10u;
}

void NotificationsTest::dropped()
{
    QFETCH(quint32, roomId);
    QFETCH(quint32, kind);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomForm* form = openRoom(run, 4);
    QVERIFY2(form, qPrintable(run.server.failure()));
    run.server.send(roomEventFrame(roomId, {kind, taro, 0, "dropped"}) +
                    roomEventFrame(4, {EventSpeak, taro, 0, "next"}));
    QTRY_COMPARE(logOf(form), QString("*** 入室しました ***\n[たろう] next"));
    QCOMPARE(logOf(run.window.get()), QString("(4) *** 入室しました ***\n(4) [たろう] next"));
}

void NotificationsTest::eventsOfALoadingRoomAreDropped()
{
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    run.window->addRoomRequest(4, new QVector<uint>{taro});
    EXPECT_CLIENT_BYTES(run.server, getRoomInfoRequest(4));
    run.server.send(roomEventFrame(4, {EventSpeak, taro, 0, "too early"}));
    ROUTED(run, "loading");
    run.server.send(roomInfoReply(RoomInfo()));
    EXPECT_CLIENT_BYTES(run.server, getNameRequest(taro));
    run.server.send(nameReply(0, "たろう"));
    QTRY_VERIFY(run.room(4));
    ChatRoomForm* form = run.room(4);
    run.server.send(roomEventFrame(4, {EventSpeak, taro, 0, "in time"}));
    QTRY_COMPARE(logOf(form), QString("*** 入室しました ***\n[たろう] in time"));
}

void NotificationsTest::heldEventKeepsArrivalOrderAcrossRooms()
{
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomForm* four = openRoom(run, 4);
    ChatRoomForm* six = openRoom(run, 6);
    QVERIFY2(four && six, qPrintable(run.server.failure()));
    QTRY_VERIFY(logOf(run.window.get()).endsWith("(6) *** 入室しました ***"));

    four->initializing = true;
    run.server.send(roomEventFrame(4, {EventSpeak, taro, 0, "first"}) +
                    roomEventFrame(6, {EventSpeak, taro, 0, "second"}));
    ROUTED(run, "held");
    QCOMPARE(logOf(six), QString("*** 入室しました ***"));

    four->initializing = false;
    run.window->runRoomEvents();
    QTRY_VERIFY(logOf(run.window.get()).endsWith("(4) [たろう] first\n(6) [たろう] second"));
    QCOMPARE(logOf(six), QString("*** 入室しました ***\n[たろう] second"));
}

// A handler may run a nested event loop (a message box does); notifications that arrive in it
// must wait for the run in progress instead of handling its head event again.
void NotificationsTest::nestedRunHandlesTheHeadEventOnce()
{
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomForm* form = openRoom(run, 4);
    QVERIFY2(form, qPrintable(run.server.failure()));
    bool nested = false;
    connect(child<QListWidget>(form, "listUser")->model(), &QAbstractItemModel::rowsInserted, form,
            [&] {
                if (nested)
                    return;
                nested = true;
                QSignalSpy notified(run.socket(), &ProtocolSocket::recvNotify);
                run.server.send(roomEventFrame(4, {EventSpeak, taro, 0, "meanwhile"}));
                QVERIFY(notified.wait(5000));
                QCoreApplication::processEvents();
            });
    run.server.send(roomEventFrame(4, {EventEnter, 8, 0, "じろう"}));
    QTRY_COMPARE(logOf(form), QString("*** 入室しました ***\n"
                                      "*** じろうさんが入室しました ***\n"
                                      "[たろう] meanwhile"));
    QVERIFY(nested);
}

QTEST_MAIN(NotificationsTest)
#include "tst_notifications.moc"
