#include "accounts/accountselectdialog.h"
#include "support/dialogtesting.h"

#include <QLabel>
#include <QRadioButton>
#include <QTextDocument>

class AccountSelectDialogTest : public QObject
{
    Q_OBJECT

  private slots:
    void formOffersThreeChoices();
    void choiceRunsItsStep_data();
    void choiceRunsItsStep();
    void givingUp_data();
    void givingUp();
};

void AccountSelectDialogTest::formOffersThreeChoices()
{
    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    AccountSelectDialog dialog(nullptr, &lobby.socket);
    dialog.show();

    QCOMPARE(dialog.windowTitle(), QString("tileParlorへようこそ"));
    QTextDocument intro;
    intro.setHtml(child<QLabel>(&dialog, "label_2")->text());
    QCOMPARE(intro.toPlainText(),
             QString("tileParlorではゲームのネット対戦やチャットなどが楽しめます。\n"
                     "まずはアカウント情報を設定してください。"));
    QCOMPARE(child<QLabel>(&dialog, "label")->pixmap().size(), QSize(144, 240));
    QVERIFY(child<QRadioButton>(&dialog, "rdoFirst")->isChecked());
    QVERIFY(child<QRadioButton>(&dialog, "rdoKey")->isVisible());
    QVERIFY(child<QRadioButton>(&dialog, "rdoExist")->isVisible());
    QVERIFY(!child<QRadioButton>(&dialog, "rdoForget")->isVisible());
    QCOMPARE(child<QDialogButtonBox>(&dialog, "buttonBox")->standardButtons(),
             QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
}

void AccountSelectDialogTest::choiceRunsItsStep_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("step");
    QTest::addColumn<bool>("stepAccepted");
    QTest::addColumn<bool>("choiceEnds");

    QTest::newRow("mail registered") << "rdoFirst"
                                     << "AccountRegMailDialog" << true << false;
    QTest::newRow("mail given up") << "rdoFirst"
                                   << "AccountRegMailDialog" << false << false;
    QTest::newRow("key registered") << "rdoKey"
                                    << "AccountRegKeyDialog" << true << false;
    QTest::newRow("key given up") << "rdoKey"
                                  << "AccountRegKeyDialog" << false << false;
    QTest::newRow("account stored") << "rdoExist"
                                    << "AccountRegDialog" << true << true;
    QTest::newRow("account given up") << "rdoExist"
                                      << "AccountRegDialog" << false << false;
}

void AccountSelectDialogTest::choiceRunsItsStep()
{
    QFETCH(QString, choice);
    QFETCH(QString, step);
    QFETCH(bool, stepAccepted);
    QFETCH(bool, choiceEnds);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    AccountSelectDialog dialog(nullptr, &lobby.socket);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    dialog.show();
    child<QRadioButton>(&dialog, qPrintable(choice))->setChecked(true);

    QString ran;
    QWidget* ranOver = nullptr;
    ModalWatcher stepWatcher([&](QWidget* modal) {
        auto* stepDialog = qobject_cast<QDialog*>(modal);
        if (!stepDialog || qobject_cast<QMessageBox*>(modal))
            return false;
        ran = modal->metaObject()->className();
        ranOver = modal->parentWidget();
        stepAccepted ? stepDialog->accept() : stepDialog->reject();
        return true;
    });
    press(&dialog, QDialogButtonBox::Ok);

    QCOMPARE(stepWatcher.handled(), 1);
    QCOMPARE(ran, step);
    QCOMPARE(ranOver, &dialog);
    QCOMPARE(accepted.count(), choiceEnds ? 1 : 0);
    QCOMPARE(dialog.isVisible(), !choiceEnds);
    QVERIFY(child<QRadioButton>(&dialog, qPrintable(choice))->isChecked());
    EXPECT_NOTHING_MORE(lobby);
}

void AccountSelectDialogTest::givingUp_data()
{
    QTest::addColumn<bool>("closeButton");
    QTest::addColumn<QMessageBox::StandardButton>("answer");
    QTest::newRow("Cancel, Yes") << false << QMessageBox::Yes;
    QTest::newRow("Cancel, No") << false << QMessageBox::No;
    QTest::newRow("close button, Yes") << true << QMessageBox::Yes;
    QTest::newRow("close button, No") << true << QMessageBox::No;
}

void AccountSelectDialogTest::givingUp()
{
    QFETCH(bool, closeButton);
    QFETCH(QMessageBox::StandardButton, answer);

    ConnectedLobby lobby;
    OPEN_LOBBY(lobby);
    AccountSelectDialog dialog(nullptr, &lobby.socket);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    dialog.show();
    child<QRadioButton>(&dialog, "rdoKey")->setChecked(true);
    SeenBox seen;
    auto question = answerMessageBox(&seen, answer);
    if (closeButton)
        dialog.close();
    else
        press(&dialog, QDialogButtonBox::Cancel);

    QCOMPARE(question->handled(), 1);
    COMPARE_BOX(
        seen, QMessageBox::Question, "アカウント情報",
        "tileParlorを利用するにはアカウント情報が必要です。\nアカウント情報の設定をやめますか？");
    if (answer == QMessageBox::Yes) {
        EXPECT_CLIENT_BYTES(lobby.server, QByteArray::fromHex("0400000000000000"));
        QCOMPARE(rejected.count(), 1);
        QVERIFY(!dialog.isVisible());
    } else {
        QCOMPARE(rejected.count(), 0);
        QVERIFY(dialog.isVisible());
        QVERIFY(child<QRadioButton>(&dialog, "rdoKey")->isChecked());
    }
    EXPECT_NOTHING_MORE(lobby);
}

QTEST_MAIN(AccountSelectDialogTest)
#include "tst_accountselectdialog.moc"
