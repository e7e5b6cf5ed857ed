#include "rooms/chatroomenterpassworddialog.h"

#include "ui_chatroomenterpassworddialog.h"

#include "app/dialogsupport.h"

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
    if (password().isEmpty()) {
        FeatureMessages(this, "チャットルームへ入室").warning("パスワードを入力してください。");
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
