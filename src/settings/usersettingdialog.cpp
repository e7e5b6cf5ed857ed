// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/usersettingdialog.h"

#include "ui_usersettingdialog.h"

#include "app/dialogsupport.h"
#include "app/globals.h"
#include "lobby/accountcommands.h"
#include "settings/setmaildialog.h"
#include "settings/setnamedialog.h"
#include "settings/setpassdialog.h"

UserSettingDialog::UserSettingDialog(QWidget* parent, AccountCommands& commands)
    : QDialog(parent), ui(new Ui::UserSettingDialog), commands(commands)
{
    ui->setupUi(this);
    connect(&commands, &AccountCommands::nameReplied, this, &UserSettingDialog::doRecvNameReply);
    connect(&commands, &AccountCommands::mailReplied, this, &UserSettingDialog::doRecvMailReply);
    fetchUserInfo();
}

UserSettingDialog::~UserSettingDialog()
{
    delete ui;
}

void UserSettingDialog::fetchUserInfo()
{
    commands.requestName(this, ownUserId);
}

void UserSettingDialog::doRecvNameReply(quint32 result, const QString& name)
{
    ui->lineEditName->setText(name);
    emit nameFetched(name);
    if (result != 0)
        fatalError("なぜか自分の名前が取得できなかった");
    commands.requestMail(this);
}

void UserSettingDialog::doRecvMailReply(const QString& mail)
{
    ui->lineEditMail->setText(mail);
}

// SetName and SetMail get no answer, so a refusal shows only in the values fetched afterwards;
// the refetch runs after Cancel too, which costs nothing and keeps one path.
void UserSettingDialog::runThenRefetch(QDialog& change)
{
    change.exec();
    fetchUserInfo();
}

void UserSettingDialog::on_pushButtonPassword_clicked()
{
    SetPassDialog dialog(this, commands);
    runThenRefetch(dialog);
}

void UserSettingDialog::on_pushButtonName_clicked()
{
    SetNameDialog dialog(this, commands);
    runThenRefetch(dialog);
}

void UserSettingDialog::on_pushButtonMail_clicked()
{
    SetMailDialog dialog(this, commands);
    runThenRefetch(dialog);
}

void UserSettingDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { reject(); });
}

void UserSettingDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
