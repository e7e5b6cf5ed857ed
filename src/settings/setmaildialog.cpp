// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/setmaildialog.h"

#include "ui_setmaildialog.h"

#include "app/dialogsupport.h"
#include "app/mailaddress.h"
#include "lobby/accountcommands.h"
#include "textlimits.h"

SetMailDialog::SetMailDialog(QWidget* parent, AccountCommands& commands)
    : QDialog(parent), ui(new Ui::SetMailDialog), commands(commands)
{
    ui->setupUi(this);
}

SetMailDialog::~SetMailDialog()
{
    delete ui;
}

void SetMailDialog::on_buttonBox_accepted()
{
    const FeatureMessages check(this, "メールアドレスの設定");
    const QString mail = ui->lineEdit->text();
    if (mail.isEmpty()) {
        check.warning("メールアドレスを入力してください。");
        return;
    }
    if (!checkUtf8Length(mail, TextLimit::mail)) {
        check.warning("メールアドレスが長すぎます。\n入力しなおしてください。");
        return;
    }
    if (!looksLikeMailAddress(mail)) {
        check.warning("メールアドレスが間違っています。\n入力しなおしてください。");
        return;
    }
    commands.setMail(mail);
    accept();
}

void SetMailDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { reject(); });
}

void SetMailDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
