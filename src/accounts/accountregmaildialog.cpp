// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounts/accountregmaildialog.h"

#include "ui_accountregmaildialog.h"

#include "accounts/giveupquestion.h"
#include "app/dialogsupport.h"
#include "app/mailaddress.h"
#include "lobby/accountcommands.h"
#include "textlimits.h"

AccountRegMailDialog::AccountRegMailDialog(QWidget* parent, AccountCommands& commands)
    : QDialog(parent), ui(new Ui::AccountRegMailDialog), commands(commands)
{
    ui->setupUi(this);
    connect(&commands, &AccountCommands::mailRegistered, this, &AccountRegMailDialog::doRecvReply);
}

AccountRegMailDialog::~AccountRegMailDialog()
{
    delete ui;
}

void AccountRegMailDialog::on_buttonBox_accepted()
{
    const FeatureMessages check(this, "メールアドレスの確認");
    const QString address = ui->lineEditMail0->text();
    if (address.isEmpty()) {
        check.warning("メールアドレスを入力してください。");
        return;
    }
    if (address != ui->lineEditMail1->text() || !looksLikeMailAddress(address)) {
        check.warning("メールアドレスが間違っています。\n入力しなおしてください。");
        return;
    }
    if (!checkUtf8Length(address, TextLimit::registrationMail)) {
        check.warning("メールアドレスが長すぎます。\n入力しなおしてください。");
        return;
    }
    commands.registerMail(this, address);
}

void AccountRegMailDialog::doRecvReply(quint32 result)
{
    const FeatureMessages registration(this, "メール登録");
    const RefusalTexts refusals = {
        {1, "入力したメールアドレスはすでに登録されてます。\nご確認ください。"},
        {2, "入力したメールアドレスの文字数が長すぎます。\nご確認ください。"},
    };
    if (!acceptResult(result, refusals, registration))
        return;
    registration.information("メールアドレスの登録が完了しました。\n"
                             "登録したメールアドレスに、アカウント登録用のキーが送られています。\n"
                             "お手数ですがメールをご確認ください。");
    accept();
}

void AccountRegMailDialog::on_buttonBox_rejected()
{
    if (confirmGiveUpAccountSetup(this))
        QDialog::reject();
}

void AccountRegMailDialog::reject()
{
    if (isEnabled())
        on_buttonBox_rejected();
}

void AccountRegMailDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { on_buttonBox_rejected(); });
}

void AccountRegMailDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
