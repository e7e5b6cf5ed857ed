// SPDX-License-Identifier: GPL-3.0-or-later
#include "rooms/chatroomcreatedialog.h"

#include "ui_chatroomcreatedialog.h"

#include "app/dialogsupport.h"
#include "app/gameinfo.h"
#include "lobby/roomcommands.h"
#include "textlimits.h"

ChatRoomCreateDialog::ChatRoomCreateDialog(QWidget* parent, RoomCommands& commands)
    : QDialog(parent), ui(new Ui::ChatRoomCreateDialog), commands(commands)
{
    ui->setupUi(this);
    connect(&commands, &RoomCommands::createState, this, &QWidget::setEnabled);
    connect(&commands, &RoomCommands::roomCreated, this, &ChatRoomCreateDialog::doRecvReply);
    ui->comboGame->addItem("チャット専用", -1);
    ui->comboGame->addItem(gameTitle(knownGameId), int(knownGameId));
}

ChatRoomCreateDialog::~ChatRoomCreateDialog()
{
    delete ui;
}

void ChatRoomCreateDialog::on_buttonBox_accepted()
{
    const QString title = ui->lineTitle->text();
    const bool usePassword = ui->checkPass->isChecked();
    const QString password = ui->linePass->text();
    const int gameId = ui->comboGame->currentData().toInt();

    const FeatureMessages check(this, "チャットルームの作成");
    if (title.isEmpty()) {
        check.warning("タイトルを入力してください。");
        return;
    }
    if (!checkUtf8Length(title, TextLimit::roomTitle)) {
        check.warning("タイトルが長すぎます。\n入力しなおしてください。");
        return;
    }
    if (usePassword && !roomPasswordFits(password)) {
        check.warning("パスワードが長すぎます。\n入力しなおしてください。");
        return;
    }

    commands.createRoom(title, usePassword ? password : QString(), quint32(ui->spinUser->value()),
                        gameId < 0 ? chatOnlyGameId : quint32(gameId));
}

void ChatRoomCreateDialog::doRecvReply(quint32 roomId)
{
    if (roomId == noRoom) {
        FeatureMessages(this, "チャットルームの作成")
            .information("新しいチャットルームを作れませんでした。");
        reject();
        return;
    }
    emit roomCreated(roomId);
    accept();
}

void ChatRoomCreateDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { reject(); });
}

void ChatRoomCreateDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
