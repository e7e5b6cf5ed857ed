// SPDX-License-Identifier: GPL-3.0-or-later
#include "rooms/chatroomenterpassworddialog.h"

#include "ui_chatroomenterpassworddialog.h"

#include "app/dialogsupport.h"
#include "textlimits.h"

ChatRoomEnterPasswordDialog::ChatRoomEnterPasswordDialog(QWidget* parent)
    : QDialog(parent), ui(new Ui::ChatRoomEnterPasswordDialog)
{
    ui->setupUi(this);
}

ChatRoomEnterPasswordDialog::~ChatRoomEnterPasswordDialog()
{
    delete ui;
}

QString ChatRoomEnterPasswordDialog::password() const
{
    return ui->linePass->text();
}

void ChatRoomEnterPasswordDialog::on_buttonBox_accepted()
{
    const FeatureMessages check(this, "チャットルームへ入室");
    if (password().isEmpty()) {
        check.warning("パスワードを入力してください。");
        return;
    }
    if (!roomPasswordFits(password())) {
        check.warning("パスワードが長すぎます。\n入力しなおしてください。");
        return;
    }
    accept();
}

void ChatRoomEnterPasswordDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
