// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounts/accountregkeydialog.h"

#include "ui_accountregkeydialog.h"

#include "accounts/giveupquestion.h"
#include "app/dialogsupport.h"
#include "lobby/accountcommands.h"
#include "textlimits.h"

AccountRegKeyDialog::AccountRegKeyDialog(QWidget* parent, AccountCommands& commands)
    : QDialog(parent), ui(new Ui::AccountRegKeyDialog), commands(commands)
{
    ui->setupUi(this);
    connect(&commands, &AccountCommands::keyRegistered, this, &AccountRegKeyDialog::doRecvReply);
}

AccountRegKeyDialog::~AccountRegKeyDialog()
{
    delete ui;
}

void AccountRegKeyDialog::on_buttonBox_accepted()
{
    const FeatureMessages check(this, "登録キーの確認");
    const QString key = ui->lineEditKey0->text();
    if (key.isEmpty()) {
        check.warning("登録キーを入力してください。");
        return;
    }
    if (key != ui->lineEditKey1->text()) {
        check.warning("登録キーが間違っています。\n入力しなおしてください。");
        return;
    }
    if (!checkUtf8Length(key, TextLimit::registrationKey)) {
        check.warning("登録キーが長すぎます。\n入力しなおしてください。");
        return;
    }
    commands.registerKey(this, key);
}

void AccountRegKeyDialog::doRecvReply(quint32 result)
{
    const FeatureMessages account(this, "アカウント情報");
    const RefusalTexts refusals = {
        {1, "入力した登録キーはすでに登録されてます。\nご確認ください。"},
    };
    if (!acceptResult(result, refusals, account))
        return;
    account.information("アカウントの登録が完了しました。\n"
                        "登録したメールアドレスに、ログイン用の情報が送られています。\n"
                        "お手数ですがメールをご確認ください。");
    accept();
}

void AccountRegKeyDialog::on_buttonBox_rejected()
{
    if (confirmGiveUpAccountSetup(this))
        QDialog::reject();
}

void AccountRegKeyDialog::reject()
{
    if (isEnabled())
        on_buttonBox_rejected();
}

void AccountRegKeyDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { on_buttonBox_rejected(); });
}

void AccountRegKeyDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
