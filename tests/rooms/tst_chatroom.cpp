#include "rooms/chatroomform.h"
#include "support/dialogtesting.h"
#include "support/lobbyframes.h"
#include "support/lobbywindow.h"

#include <QGroupBox>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTabWidget>

namespace
{
QStringList listed(const ChatRoomForm* form)
{
    QStringList names;
    const auto* list = child<QListWidget>(form, "listUser");
    for (int i = 0; i < list->count(); ++i)
        names << list->item(i)->text();
    return names;
}

QString logOf(const QObject* owner)
{
    return child<QPlainTextEdit>(owner, "textLog")->toPlainText();
}

QStringList tabTitles(const LobbyWindow& run)
{
    QStringList titles;
    for (int i = 0; i < run.tabs()->count(); ++i)
        titles << run.tabs()->tabText(i);
    return titles;
}

RoomInfo chatRoom(const QString& title)
{
    RoomInfo info;
    info.title = title;
    return info;
}
} // namespace

class ChatRoomTest : public QObject
{
    Q_OBJECT

  private slots:
    void initialisation_data();
    void initialisation();
    void speaking_data();
    void speaking();
    void leaving_data();
    void leaving();
    void battleButton_data();
    void battleButton();
    void languageChangeKeepsTitles();
};

void ChatRoomTest::initialisation_data()
{
    QTest::addColumn<RoomInfo>("info");
    QTest::addColumn<QList<RoomMember>>("members");
    QTest::addColumn<QString>("game");
    QTest::addColumn<QString>("userTitle");

    RoomInfo info = chatRoom("雑談");
    info.userCount = 2;
    QTest::newRow("chat only, one member unknown")
        << info << QList<RoomMember>{{77, "たろう"}, {5, "", 1}} << "なし"
        << "参加者 2/8";
    info.gameId = 0;
    info.capacity = 10001;
    QTest::newRow("game room without limit")
        << info << QList<RoomMember>{{77, "たろう"}} << "星環演武"
        << "参加者 2/無制限";
    // Nothing to fetch: the room is ready as soon as its information is in.
    QTest::newRow("no members") << info << QList<RoomMember>{} << "星環演武"
                                << "参加者 2/無制限";
}

void ChatRoomTest::initialisation()
{
    QFETCH(RoomInfo, info);
    QFETCH(QList<RoomMember>, members);
    QFETCH(QString, game);
    QFETCH(QString, userTitle);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomForm* form = run.openRoom(3, info, members);
    QVERIFY2(form, qPrintable(run.server.failure()));
    EXPECT_NOTHING_MORE_FROM(run);

    QCOMPARE(tabTitles(run), (QStringList{"ルーム No.3", "ルーム一覧"}));
    QCOMPARE(run.tabs()->currentWidget(), form);
    QStringList names;
    for (const RoomMember& member : members)
        names << (member.status == 0 ? member.name : "(Invalid User)");
    QCOMPARE(listed(form), names);
    QCOMPARE(form->userName(5), members.size() > 1 ? QString("(Invalid User)") : "Unknown");
    QCOMPARE(textOf(form, "lineTitle"), info.title);
    QCOMPARE(textOf(form, "lineGame"), game);
    QCOMPARE(child<QPushButton>(form, "pushButtonBattle")->isEnabled(),
             info.gameId != chatOnlyGameId);
    QCOMPARE(child<QGroupBox>(form, "groupUser")->title(), userTitle);
    QCOMPARE(child<QGroupBox>(form, "groupRoom")->title(), QString("ルーム No.3"));
    QTRY_COMPARE(logOf(form), QString("*** 入室しました ***"));
    QTRY_COMPARE(logOf(run.window.get()), QString("(3) *** 入室しました ***"));
    QCOMPARE(run.window->roomTitle(3), info.title);
    QCOMPARE(run.window->roomGameId(3), uint(info.gameId));
    QCOMPARE(run.window->roomTitle(4), QString("No Title"));
    QCOMPARE(run.window->roomGameId(4), uint(chatOnlyGameId));
}

void ChatRoomTest::speaking_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byButton");
    QTest::addColumn<QString>("sent");
    QTest::newRow("empty line") << QString() << false << QString();
    QTest::newRow("Return") << "こんにちは" << false << "こんにちは";
    QTest::newRow("button") << "こんにちは" << true << "こんにちは";
    QTest::newRow("129 characters") << kana(129) << false << kana(128);
}

void ChatRoomTest::speaking()
{
    QFETCH(QString, typed);
    QFETCH(bool, byButton);
    QFETCH(QString, sent);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomForm* form = run.openRoom(6, chatRoom("雑談"), {{77, "たろう"}});
    QVERIFY2(form, qPrintable(run.server.failure()));
    QTRY_VERIFY(!logOf(form).isEmpty());

    auto* line = child<QLineEdit>(form, "lineSpeak");
    line->setText(typed);
    if (byButton)
        child<QPushButton>(form, "btnSpeak")->click();
    else
        QTest::keyClick(line, Qt::Key_Return);
    if (!sent.isEmpty())
        EXPECT_CLIENT_BYTES(run.server, frame(Wire().u32(Speak).u32(6).str(sent)));
    EXPECT_NOTHING_MORE_FROM(run);
    QVERIFY(line->text().isEmpty());
    // No command: nothing is disabled, and the line waits for the server's echo.
    QVERIFY(run.window->isEnabled());
    QCOMPARE(logOf(form), QString("*** 入室しました ***"));
}

void ChatRoomTest::leaving_data()
{
    QTest::addColumn<quint32>("result");
    QTest::newRow("left") << 0u;
    QTest::newRow("refused") << 1u;
}

void ChatRoomTest::leaving()
{
    QFETCH(quint32, result);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    QVERIFY2(run.openRoom(5, chatRoom("five"), {{77, "たろう"}}), qPrintable(run.server.failure()));
    ChatRoomForm* nine = run.openRoom(9, chatRoom("nine"), {{77, "たろう"}});
    QVERIFY2(nine, qPrintable(run.server.failure()));
    QCOMPARE(tabTitles(run), (QStringList{"ルーム No.5", "ルーム No.9", "ルーム一覧"}));

    child<QPushButton>(nine, "pushButtonLeave")->click();
    EXPECT_CLIENT_BYTES(run.server, frame(Wire().u32(LeaveRoom).u32(9)));
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    run.server.send(replyFrame(Wire().u32(result)));
    QTRY_VERIFY(run.window->isEnabled());
    if (result != 0) {
        QTRY_COMPARE(box->handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Information, "チャットルームから退室",
                    "退室できませんでした。");
        QCOMPARE(run.room(9), nine);
        return;
    }
    QTRY_COMPARE(tabTitles(run), (QStringList{"ルーム No.5", "ルーム一覧"}));
    QCOMPARE(run.tabs()->currentWidget(), run.room(5));
    QTRY_VERIFY(logOf(run.window.get()).endsWith("(9) *** 退室しました ***"));
    QCOMPARE(box->handled(), 0);
}

void ChatRoomTest::battleButton_data()
{
    QTest::addColumn<quint32>("result");
    QTest::addColumn<bool>("refused");
    QTest::newRow("recruiting") << 0u << false;
    QTest::newRow("refused") << 1u << true;
    QTest::newRow("other result") << 2u << false;
}

void ChatRoomTest::battleButton()
{
    QFETCH(quint32, result);
    QFETCH(bool, refused);
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    RoomInfo info = chatRoom("対戦");
    info.gameId = 0;
    ChatRoomForm* form = run.openRoom(2, info, {{77, "たろう"}});
    QVERIFY2(form, qPrintable(run.server.failure()));
    QVERIFY(run.window->canStartMatch());

    child<QPushButton>(form, "pushButtonBattle")->click();
    EXPECT_CLIENT_BYTES(run.server, frame(Wire().u32(RecruitMatch).u32(2)));
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    run.server.send(replyFrame(Wire().u32(result)));
    QTRY_VERIFY(run.window->isEnabled());
    if (refused) {
        QTRY_COMPARE(box->handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Information, "対戦マッチング",
                    "対戦相手募集に失敗しました。");
    }
    EXPECT_NOTHING_MORE_FROM(run);
    QCOMPARE(box->handled(), refused ? 1 : 0);
}

void ChatRoomTest::languageChangeKeepsTitles()
{
    LobbyWindow run;
    VERIFY_STEP(run, loggedIn());
    ChatRoomForm* form = run.openRoom(5, chatRoom("five"), {{77, "たろう"}});
    QVERIFY2(form, qPrintable(run.server.failure()));
    QEvent change(QEvent::LanguageChange);
    for (QWidget* widget : {static_cast<QWidget*>(run.window.get()), static_cast<QWidget*>(form)})
        QCoreApplication::sendEvent(widget, &change);
    QCOMPARE(tabTitles(run), (QStringList{"ルーム No.5", "ルーム一覧"}));
    QCOMPARE(child<QGroupBox>(form, "groupRoom")->title(), QString("ルーム No.5"));
}

QTEST_MAIN(ChatRoomTest)
#include "tst_chatroom.moc"
