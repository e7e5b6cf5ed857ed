#include "match/chatrecruitmatchdialog.h"

#include "ui_chatrecruitmatchdialog.h"

#include "app/dialogsupport.h"
#include "app/gameinfo.h"
#include "match/matchsupport.h"
#include "lobby/lobbyroom.h"
#include "lobbyrequests.h"

#include <QCloseEvent>

static const char* const title = "対戦マッチング";

ChatRecruitMatchDialog::ChatRecruitMatchDialog(QWidget* parent, ProtocolSocket* socket,
                                               const LobbyRoom& room, uint roomId, uint minPlayers,
                                               uint maxPlayers)
    : QDialog(parent), ui(new Ui::ChatRecruitMatchDialog), socket(socket), roomId(roomId),
      minPlayers(minPlayers), maxPlayers(maxPlayers)
{
    ui->setupUi(this);
    showRoomNumber();
    ui->lineRoom->setText(room.roomTitle());
    ui->lineGame->setText(gameTitle(room.roomGameId()));
    setParticipantCount(1);
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
    sendMatchCommand(socket, this, SLOT(doRecvStartBattleReply()), StartBattleRequest{roomId});
}

void ChatRecruitMatchDialog::on_buttonBox_rejected()
{
    sendMatchCommand(socket, this, SLOT(doRecvCancelReply()), CancelRecruitRequest{roomId});
}

void ChatRecruitMatchDialog::doRecvStartBattleReply()
{
    if (readMatchResult(socket) != 0)
        showMatchInformation(this, title, "ゲームの開始に失敗しました。");
}

void ChatRecruitMatchDialog::doRecvCancelReply()
{
    if (readMatchResult(socket) != 0)
        showMatchInformation(this, title, "対戦相手募集のキャンセルに失敗しました。");
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
