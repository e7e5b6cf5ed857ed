#include "settings/usersettingdialog.h"

#include "ui_usersettingdialog.h"

#include "app/dialogsupport.h"
#include "app/globals.h"
#include "protocol/protocolsocket.h"
#include "lobbymessages.h"
#include "lobbyrequests.h"
#include "settings/setmaildialog.h"
#include "settings/setnamedialog.h"
#include "settings/setpassdialog.h"

UserSettingDialog::UserSettingDialog(QWidget* parent, ProtocolSocket* socket)
    : QDialog(parent), ui(new Ui::UserSettingDialog), socket(socket)
{
    ui->setupUi(this);
    fetchUserInfo();
}

UserSettingDialog::~UserSettingDialog()
{
    delete ui;
}

void UserSettingDialog::fetchUserInfo()
{
    socket->beginCommand(this, SLOT(doRecvNameReply()));
    socket->write(GetNameRequest{ownUserId});
    socket->sendCommand();
}

void UserSettingDialog::doRecvNameReply()
{
    socket->prepareRecvReply(true);
    const auto reply = socket->read<NameReply>();
    ui->lineEditName->setText(reply.name);
    emit nameFetched(reply.name);
    socket->endCommand();
    if (reply.result != 0)
        fatalError("なぜか自分の名前が取得できなかった");

    socket->beginCommand(this, SLOT(doRecvMailReply()));
    socket->write(GetMailRequest{});
    socket->sendCommand();
}

void UserSettingDialog::doRecvMailReply()
{
    socket->prepareRecvReply(true);
    ui->lineEditMail->setText(socket->read<MailReply>().mail);
    socket->endCommand();
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
    SetPassDialog dialog(this, socket);
    runThenRefetch(dialog);
}

void UserSettingDialog::on_pushButtonName_clicked()
{
    SetNameDialog dialog(this, socket);
    runThenRefetch(dialog);
}

void UserSettingDialog::on_pushButtonMail_clicked()
{
    SetMailDialog dialog(this, socket);
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
