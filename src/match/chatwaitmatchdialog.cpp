// SPDX-License-Identifier: GPL-3.0-or-later
#include "match/chatwaitmatchdialog.h"

#include "ui_chatwaitmatchdialog.h"

#include "app/dialogsupport.h"
#include "match/matchsupport.h"

#include <QCloseEvent>

ChatWaitMatchDialog::ChatWaitMatchDialog(QWidget* parent, MatchCommands& commands, uint roomId,
                                         uint hostId, const QString& hostName, uint maxPlayers,
                                         uint participantCount)
    : QDialog(parent), ui(new Ui::ChatWaitMatchDialog), commands(commands), roomId(roomId),
      hostId(hostId), maxPlayers(maxPlayers)
{
    ui->setupUi(this);
    showHost();
    ui->lineUser->setText(hostName);
    setParticipantCount(participantCount);
    showMatchRefusals(commands, this, MatchCommands::CancelApply,
                      "対戦の募集への応募をキャンセルするのに失敗しました。");
}

ChatWaitMatchDialog::~ChatWaitMatchDialog()
{
    delete ui;
}

void ChatWaitMatchDialog::showHost()
{
    ui->labelUser->setText(QString("ユーザー No.%1").arg(hostId));
}

void ChatWaitMatchDialog::setParticipantCount(uint count)
{
    participantCount = count;
    ui->labelStatus->setText(participationText(count, maxPlayers));
}

void ChatWaitMatchDialog::on_buttonBox_rejected()
{
    commands.send(this, MatchCommands::CancelApply, roomId);
}

void ChatWaitMatchDialog::reject()
{
    close();
}

void ChatWaitMatchDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { on_buttonBox_rejected(); });
}

void ChatWaitMatchDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        showHost();
        setParticipantCount(participantCount);
    }
    QDialog::changeEvent(event);
}
