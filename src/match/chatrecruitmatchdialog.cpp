// SPDX-License-Identifier: GPL-3.0-or-later
#include "match/chatrecruitmatchdialog.h"

#include "ui_chatrecruitmatchdialog.h"

#include "app/dialogsupport.h"
#include "app/gameinfo.h"
#include "match/matchsupport.h"
#include "lobby/lobbyroom.h"

#include <QCloseEvent>

ChatRecruitMatchDialog::ChatRecruitMatchDialog(QWidget* parent, MatchCommands& commands,
                                               const LobbyRoom& room, uint roomId, uint minPlayers,
                                               uint maxPlayers)
    : QDialog(parent), ui(new Ui::ChatRecruitMatchDialog), commands(commands), roomId(roomId),
      minPlayers(minPlayers), maxPlayers(maxPlayers)
{
    ui->setupUi(this);
    showRoomNumber();
    ui->lineRoom->setText(room.roomTitle());
    ui->lineGame->setText(gameTitle(room.roomGameId()));
    setParticipantCount(1);
    showMatchRefusals(commands, this, MatchCommands::StartBattle, "ゲームの開始に失敗しました。");
    showMatchRefusals(commands, this, MatchCommands::CancelRecruit,
                      "対戦相手募集のキャンセルに失敗しました。");
}

ChatRecruitMatchDialog::~ChatRecruitMatchDialog()
{
    delete ui;
}

void ChatRecruitMatchDialog::showRoomNumber()
{
    ui->labelRoom->setText(QString("チャット No.%1").arg(roomId));
}

void ChatRecruitMatchDialog::setParticipantCount(uint count)
{
    participantCount = count;
    QString status = QString("現在 %1 / %2人").arg(count).arg(maxPlayers);
    if (minPlayers != maxPlayers)
        status += QString(" (%1人から対戦開始できます)").arg(minPlayers);
    ui->labelUser->setText(status);
    ui->buttonBox->setStandardButtons(participantCount < minPlayers
                                          ? QDialogButtonBox::Cancel
                                          : QDialogButtonBox::Yes | QDialogButtonBox::Cancel);
}

void ChatRecruitMatchDialog::on_buttonBox_accepted()
{
    commands.send(this, MatchCommands::StartBattle, roomId);
}

void ChatRecruitMatchDialog::on_buttonBox_rejected()
{
    commands.send(this, MatchCommands::CancelRecruit, roomId);
}

void ChatRecruitMatchDialog::reject()
{
    close();
}

void ChatRecruitMatchDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { on_buttonBox_rejected(); });
}

void ChatRecruitMatchDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        showRoomNumber();
        setParticipantCount(participantCount);
    }
    QDialog::changeEvent(event);
}
