// SPDX-License-Identifier: GPL-3.0-or-later
#include "match/chatapplymatchdialog.h"

#include "ui_chatapplymatchdialog.h"

#include "app/dialogsupport.h"
#include "match/matchsupport.h"

#include <QCloseEvent>

ChatApplyMatchDialog::ChatApplyMatchDialog(QWidget* parent, MatchCommands& commands, uint roomId,
                                           uint hostId, const QString& hostName, uint maxPlayers)
    : QDialog(parent), ui(new Ui::ChatApplyMatchDialog), commands(commands), roomId(roomId),
      hostId(hostId), maxPlayers(maxPlayers)
{
    ui->setupUi(this);
    showHost();
    ui->lineUserName->setText(hostName);
    setParticipantCount(1);
    showMatchRefusals(commands, this, MatchCommands::Apply,
                      "対戦の応募に失敗しました。\nすでに満席です。");
}

ChatApplyMatchDialog::~ChatApplyMatchDialog()
{
    delete ui;
}

void ChatApplyMatchDialog::showHost()
{
    ui->labelUserNo->setText(QString("ユーザー No.%1").arg(hostId));
}

void ChatApplyMatchDialog::setParticipantCount(uint count)
{
    participantCount = count;
    ui->labelUser->setText(participationText(count, maxPlayers));
    ui->buttonBox->setStandardButtons(participantCount < maxPlayers
                                          ? QDialogButtonBox::Yes | QDialogButtonBox::No
                                          : QDialogButtonBox::No);
}

void ChatApplyMatchDialog::on_buttonBox_accepted()
{
    commands.send(this, MatchCommands::Apply, roomId, hostId);
}

void ChatApplyMatchDialog::on_buttonBox_rejected()
{
    emit declined(this);
}

// Deleted later: the user's No reaches here from the dialog's own button.
void ChatApplyMatchDialog::closeLater()
{
    hide();
    deleteLater();
}

void ChatApplyMatchDialog::reject()
{
    close();
}

void ChatApplyMatchDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { on_buttonBox_rejected(); });
}

void ChatApplyMatchDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        showHost();
        setParticipantCount(participantCount);
    }
    QDialog::changeEvent(event);
}
