// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounts/accountregdialog.h"

#include "ui_accountregdialog.h"

#include "accounts/giveupquestion.h"
#include "app/dialogsupport.h"
#include "app/usersettingsstore.h"
#include "textlimits.h"

AccountRegDialog::AccountRegDialog(QWidget* parent) : QDialog(parent), ui(new Ui::AccountRegDialog)
{
    ui->setupUi(this);
}

AccountRegDialog::~AccountRegDialog()
{
    delete ui;
}

void AccountRegDialog::on_buttonBox_accepted()
{
    const FeatureMessages check(this, "アカウント情報");
    const QString account = ui->lineEditAccount->text();
    const QString password = ui->lineEditPassword->text();
    if (account.isEmpty()) {
        check.warning("アカウントを入力してください。");
        return;
    }
    if (!checkUtf8Length(account, TextLimit::account)) {
        check.warning("アカウントが長すぎます。\n入力しなおしてください。");
        return;
    }
    if (password.isEmpty()) {
        check.warning("パスワードを入力してください。");
        return;
    }
    if (!checkUtf8Length(password, TextLimit::password)) {
        check.warning("パスワードが長すぎます。\n入力しなおしてください。");
        return;
    }
    storeUserSettings({{"account/id", account}, {"account/password", password}});
    accept();
}

void AccountRegDialog::on_buttonBox_rejected()
{
    if (confirmGiveUpAccountSetup(this))
        QDialog::reject();
}

void AccountRegDialog::reject()
{
    on_buttonBox_rejected();
}

void AccountRegDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancel(event, [this] { on_buttonBox_rejected(); });
}

void AccountRegDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
