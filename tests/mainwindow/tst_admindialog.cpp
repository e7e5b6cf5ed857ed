#include "support/dialogtesting.h"
#include "mainwindow/admindialog.h"
#include "protocol/requestcode.h"

#include <QLabel>
#include <QPushButton>

namespace
{

QByteArray globalMessage(const QString& text)
{
    return frame(Wire().u32(GlobalMessage).str(text));
}

} // namespace

class AdminDialogTest : public QObject
{
    Q_OBJECT

  private slots:
    void closeButtonDoesNothing();
    void messageLength_data();
    void messageLength();
    void pressingTwiceSendsTwice();
};

void AdminDialogTest::closeButtonDoesNothing()
{
    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    AdminDialog dialog(nullptr, &lobby.socket);
    QSignalSpy finished(&dialog, &QDialog::finished);
    dialog.show();
    QCOMPARE(dialog.windowTitle(), QString("管理者ツール"));
    QCOMPARE(child<QLabel>(&dialog, "label")->text(), QString("グローバルメッセージ"));
    QCOMPARE(child<QPushButton>(&dialog, "pushGmes")->text(), QString("送信"));

    SeenBox seen;
    auto anyBox = answerMessageBox(&seen);
    QVERIFY(!dialog.close());
    QCOMPARE(anyBox->handled(), 0);
    QVERIFY(dialog.isVisible());
    QCOMPARE(finished.count(), 0);
    EXPECT_NOTHING_MORE(lobby);
}

void AdminDialogTest::messageLength_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("sent");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("287 bytes") << textOfBytes(287) << true;
    QTest::newRow("288 bytes") << textOfBytes(288) << false;
    QTest::newRow("95 kana and 2 bytes") << kana(95) + "!!" << true;
    QTest::newRow("96 kana") << kana(96) << false;
}

void AdminDialogTest::messageLength()
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
    child<QPushButton>(&dialog, "pushGmes")->click();

    if (sent) {
        QCOMPARE(box->handled(), 0);
        EXPECT_CLIENT_BYTES(lobby.server, globalMessage(text));
    } else {
        QCOMPARE(box->handled(), 1);
        COMPARE_BOX(seen, QMessageBox::Warning, "グローバルメッセージの確認",
                    "グローバルメッセージが長すぎます。\n入力しなおしてください。");
    }
    QCOMPARE(textOf(&dialog, "lineGmes"), text);
    QVERIFY(child<QPushButton>(&dialog, "pushGmes")->isEnabled());
    QVERIFY(dialog.isEnabled());
    QVERIFY(!lobby.socket.isCommandOpen());
    EXPECT_NOTHING_MORE(lobby);
}

void AdminDialogTest::pressingTwiceSendsTwice()
{
    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    AdminDialog dialog(nullptr, &lobby.socket);
    dialog.show();
    typeInto(&dialog, "lineGmes", "本日22時にメンテナンスを行います");
    child<QPushButton>(&dialog, "pushGmes")->click();
    child<QPushButton>(&dialog, "pushGmes")->click();
    const QByteArray once = globalMessage("本日22時にメンテナンスを行います");
    EXPECT_CLIENT_BYTES(lobby.server, once + once);
    EXPECT_NOTHING_MORE(lobby);
}

QTEST_MAIN(AdminDialogTest)
#include "tst_admindialog.moc"
