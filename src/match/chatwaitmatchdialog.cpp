#include "match/chatwaitmatchdialog.h"

#include "ui_chatwaitmatchdialog.h"

#include "app/dialogsupport.h"
#include "match/matchsupport.h"
#include "lobbyrequests.h"

#include <QCloseEvent>

ChatWaitMatchDialog::ChatWaitMatchDialog(QWidget* parent, ProtocolSocket* socket, uint roomId,
                                         uint hostId, const QString& hostName, uint maxPlayers,
                                         uint participantCount)
    : QDialog(parent), ui(new Ui::ChatWaitMatchDialog), socket(socket), roomId(roomId),
      hostId(hostId), maxPlayers(maxPlayers)
{
    ui->setupUi(this);
    showHost();
    ui->lineUser->setText(hostName);
    setParticipantCount(participantCount);
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
    sendMatchCommand(socket, this, SLOT(doRecvCancelReply()), CancelApplyRequest{roomId});
}

void ChatWaitMatchDialog::doRecvCancelReply()
{
    if (readMatchResult(socket) != 0)
        showMatchInformation(this, "対戦マッチング",
                             "対戦の募集への応募をキャンセルするのに失敗しました。");
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
