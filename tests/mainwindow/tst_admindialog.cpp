#include "support/dialogtesting.h"
#include "mainwindow/admindialog.h"

class AdminDialogTest : public QObject
{
    Q_OBJECT

  private slots:
    void globalMessage_data();
    void globalMessage();
};

void AdminDialogTest::globalMessage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("sent");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("287 bytes") << kana(95) + "!!" << true;
    QTest::newRow("288 bytes") << kana(96) << false;
}

void AdminDialogTest::globalMessage()
{
    QFETCH(QString, text);
    QFETCH(bool, sent);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    AdminDialog dialog(nullptr, &lobby.socket);
    dialog.show();
    typeInto(&dialog, "lineGmes", text);
    SeenBox seen;
    auto box = answerMessageBox(&seen);
    auto* send = child<QPushButton>(&dialog, "pushGmes");
    send->click();
    QCOMPARE(box->handled(), sent ? 0 : 1);

    if (sent) {
        // The server never answers a message, so nothing holds the second press back.
        send->click();
        const QByteArray once = frame(Wire().u32(1).str(text));
        EXPECT_CLIENT_BYTES(lobby.server, once + once);
    } else {
        COMPARE_BOX(seen, QMessageBox::Warning, "グローバルメッセージの確認",
                    "グローバルメッセージが長すぎます。\n入力しなおしてください。");
    }
    QCOMPARE(textOf(&dialog, "lineGmes"), text);
    // Nothing in the main window can bring the tool back once it is hidden.
    QVERIFY(!dialog.close());
    QVERIFY(dialog.isVisible());
    EXPECT_NOTHING_MORE(lobby);
}

QTEST_MAIN(AdminDialogTest)
#include "tst_admindialog.moc"
