// SPDX-License-Identifier: GPL-3.0-or-later
#include "match/battledialog.h"

#include "ui_battledialog.h"

#include "app/gameinfo.h"
#include "app/globals.h"
#include "match/childprocess.h"
#include "match/engineorder.h"
#include "match/matchsupport.h"
#include "lobby/lobbyroom.h"
#include "lobby/recruitment.h"

#include <QCloseEvent>
#include <QTimer>

namespace
{
constexpr int pollIntervalMs = 100;
// How long the engine has to end after the stop order before it is terminated.
constexpr quint32 engineStopMs = 1000;
} // namespace

BattleDialog::BattleDialog(QWidget* parent, MatchCommands& commands, const LobbyRoom& room,
                           uint roomId, const Recruitment& recruitment, uint minPlayers,
                           const QString& hostAddress)
    : QDialog(parent), roomId(roomId), hostId(recruitment.hostId), ui(new Ui::BattleDialog),
      commands(commands), applicants(recruitment.applicants), minPlayers(minPlayers)
{
    const uint gameId = room.roomGameId();
    ui->setupUi(this);
    ui->lineTitle->setText(gameTitle(gameId));
    ui->listUser->addItem(room.userName(hostId));
    for (const uint applicant : applicants)
        ui->listUser->addItem(room.userName(applicant));

    const StartError error = startEngine(gameId, hostAddress);
    if (error == Started) {
        QTimer::singleShot(pollIntervalMs, this, &BattleDialog::doCheckGame);
        return;
    }
    // Without an engine the match is over for this client at once.
    doCheckGame();
    // Once the dialog shows, so that the box lies over it.
    const QString text = startErrorText(error);
    QTimer::singleShot(0, this, [this, text] { showMatchInformation(this, "対戦状況", text); });
}

QString BattleDialog::startErrorText(StartError error)
{
    switch (error) {
    case NoResources:
        return "リソース不足です。";
    case NotInstalled:
        return "星環演武がインストールされていません。";
    default:
        return "星環演武の起動に失敗しました。\nファイルが見つかりません。\n"
               "(インストールしたフォルダから手動で移動したりすると発生します)";
    }
}

BattleDialog::StartError BattleDialog::startEngine(uint gameId, const QString& hostAddress)
{
    if (!pipes.open())
        return NoResources;
    const bool host = ownUserId == hostId;
    pipes.write(host ? orderBlock(HostOrder) : orderBlock(JoinOrder, hostAddress));
    const QString path = gameFilePath(gameId, "engine.exe");
    if (!path.isEmpty())
        process = startProcess(path, pipes.engineCommandLine());
    pipes.closeEngineEnds();
    if (path.isEmpty())
        return NotInstalled;
    return process ? Started : StartFailed;
}

BattleDialog::~BattleDialog()
{
    // Also when the engine has already ended: the write then fails, harmlessly.
    pipes.write(orderBlock(StopOrder));
    if (process)
        closeProcess(process, engineStopMs);
    delete ui;
}

void BattleDialog::doCheckGame()
{
    // A command of another window may be out: the report waits for the connection itself.
    if (process && isProcessRunning(process)) {
        QTimer::singleShot(pollIntervalMs, this, &BattleDialog::doCheckGame);
        return;
    }
    sendDropBattle();
}

void BattleDialog::sendEndBattle()
{
    if (endSent || ownUserId != hostId)
        return;
    endSent = true;
    commands.send(this, MatchCommands::EndBattle, roomId);
}

void BattleDialog::sendDropBattle()
{
    if (endSent)
        return;
    if (ownUserId == hostId) {
        sendEndBattle();
        return;
    }
    endSent = true;
    commands.send(this, MatchCommands::DropBattle, roomId);
}

bool BattleDialog::removeMember(uint userId)
{
    if (!isIdle())
        return false;
    const int index = int(applicants.indexOf(userId));
    if (index >= 0) {
        applicants.remove(index);
        delete ui->listUser->takeItem(index + 1);
    }
    if (uint(applicants.size()) + 1 < minPlayers)
        sendEndBattle();
    return true;
}

bool BattleDialog::isIdle() const
{
    return commands.isConnectionIdle();
}

void BattleDialog::reject() {}

void BattleDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

void BattleDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
