#include "rooms/chatroomform.h"
#include "support/dialogtesting.h"
#include "support/lobbywindow.h"

#include <QListWidget>
#include <QPlainTextEdit>

namespace
{
constexpr quint32 taro = LobbyWindow::ownId;

QByteArray speak(quint32 roomId, const QString& text)
{
    return roomEventFrame(roomId, {EventSpeak, taro, 0, text});
}
} // namespace

class NotificationsTest : public QObject
{
    Q_OBJECT

  private slots:
    // Room 4 holds its event back; room 6's later events wait behind it. Released, the queue,
    // longer than one run may take at a time, is handled to its end and in arrival order; events of
    // a room without a tab (or not yet one: still loading) and of unknown kinds are dropped on the
    // way.
    void heldEventHoldsEveryRoomInArrivalOrder()
    {
        LobbyWindow run;
        VERIFY_STEP(run, loggedIn());
        ChatRoomForm* four = run.openRoom(4, RoomInfo(), {{taro, "たろう"}});
        QVERIFY2(four && run.openRoom(6, RoomInfo(), {{taro, "たろう"}}),
                 qPrintable(run.server.failure()));
        QTRY_VERIFY(run.allRoomsLog().endsWith("(6) *** 入室しました ***"));
        const QString before = run.allRoomsLog();

        four->initializing = true;
        QByteArray flood = speak(7, "dropped") + roomEventFrame(6, {10, taro, 0, "dropped"});
        QStringList expected = before.split('\n');
        for (int i = 0; i < 10000; ++i) {
            const quint32 roomId = i % 2 ? 6 : 4;
            flood += speak(roomId, QString::number(i));
            expected << QString("(%1) [たろう] %2").arg(roomId).arg(i);
        }
        // Notifications are taken in arrival order: once the message after the flood shows, the
        // router has had all of it.
        run.server.send(flood + frameBytes(SystemMessageNotification{"held"}));
        QTRY_COMPARE(textOf(run.window.get(), "lineSysMessage"), QString("held"));
        QCOMPARE(run.allRoomsLog(), before);

        four->initializing = false;
        run.window->runRoomEvents();
        QTRY_COMPARE(run.allRoomsLog().count('\n') + 1, expected.size());
        QCOMPARE(run.allRoomsLog(), expected.join('\n'));
    }

    // A handler may run a nested event loop (a message box does); notifications that arrive in it
    // must wait for the run in progress instead of handling its head event again.
    void nestedRunHandlesTheHeadEventOnce()
    {
        LobbyWindow run;
        VERIFY_STEP(run, loggedIn());
        ChatRoomForm* form = run.openRoom(4, RoomInfo(), {{taro, "たろう"}});
        QVERIFY2(form, qPrintable(run.server.failure()));
        bool nested = false;
        connect(child<QListWidget>(form, "listUser")->model(), &QAbstractItemModel::rowsInserted,
                form, [&] {
                    if (std::exchange(nested, true))
                        return;
                    QSignalSpy notified(run.socket(), &ProtocolSocket::recvNotify);
                    run.server.send(speak(4, "meanwhile"));
                    QVERIFY(notified.wait(5000));
                    QCoreApplication::processEvents();
                });
        run.server.send(roomEventFrame(4, {EventEnter, 8, 0, "じろう"}));
        QTRY_COMPARE(child<QPlainTextEdit>(form, "textLog")->toPlainText(),
                     QString("*** 入室しました ***\n*** じろうさんが入室しました ***\n"
                             "[たろう] meanwhile"));
    }
};

QTEST_MAIN(NotificationsTest)
#include "tst_notifications.moc"
