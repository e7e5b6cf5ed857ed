// SPDX-License-Identifier: GPL-3.0-or-later
#include "rooms/chatroomform.h"

#include "ui_chatroomform.h"

#include "app/dialogsupport.h"
#include "app/gameinfo.h"
#include "app/globals.h"
#include "lobby/lobbycore.h"
#include "rooms/batchedlog.h"
#include "rooms/roomcapacity.h"
#include "lobbymessages.h"
#include "lobbyrequests.h"
#include "textlimits.h"

#include <QCloseEvent>

#include <utility>

namespace
{
// The room's title and game are often longer than their fields: the tips show them whole.
void showWithTips(QLineEdit* line, const QString& text)
{
    line->setText(text);
    line->setStatusTip(text);
    line->setToolTip(text);
    line->setWhatsThis(text);
}
} // namespace

ChatRoomForm::ChatRoomForm(LobbyCore& core, uint roomId, QVector<uint>* userIds, QWidget* parent)
    : QWidget(parent), roomId(roomId), ui(new Ui::ChatRoomForm), core(core)
{
    ui->setupUi(this);
    log = new BatchedLog(ui->textLog);
    ui->groupRoom->setTitle(QString("ルーム No.%1").arg(roomId));
    ui->splitter->setStretchFactor(0, 30);
    ui->splitter->setStretchFactor(1, 1);
    for (uint userId : std::as_const(*userIds))
        members.append({userId, QString()});
    delete userIds;

    RoomCommands* commands = &core.rooms();
    connect(commands, &RoomCommands::roomInfoReplied, this, &ChatRoomForm::doRecvGetInfoReply);
    connect(commands, &RoomCommands::memberNameReplied, this, &ChatRoomForm::doRecvGetNameReply);
    connect(commands, &RoomCommands::leaveReplied, this, &ChatRoomForm::doRecvLeaveReply);
    const QObject* battle = ui->pushButtonBattle;
    connect(&core.matches(), &MatchCommands::recruitRefused, this, [this, battle](QObject* asker) {
        if (asker == battle)
            FeatureMessages(this, "対戦マッチング").information("すでにマッチング中です。");
    });
    // A success shows nothing: the recruiting dialog opens with the server's recruit event.
    connect(
        &core.matches(), &MatchCommands::replied, this,
        [this, battle](QObject* asker, MatchCommands::Command, uint, quint32 result) {
            if (asker == battle && result == 1)
                FeatureMessages(this, "対戦マッチング").information("対戦相手募集に失敗しました。");
        });
}

ChatRoomForm::~ChatRoomForm()
{
    delete ui;
}

void ChatRoomForm::requestRoomInfo()
{
    initializing = true;
    core.rooms().requestRoomInfo(roomId);
}

void ChatRoomForm::doRecvGetInfoReply(uint room, const RoomInfoReply& info)
{
    if (room != roomId)
        return;
    title = info.title;
    showWithTips(ui->lineTitle, title);
    capacity = info.capacity;
    showUserCount(int(info.userCount));
    gameId = info.gameId;
    if (gameId == chatOnlyGameId) {
        showWithTips(ui->lineGame, "なし");
        ui->pushButtonBattle->setEnabled(false);
    } else {
        showWithTips(ui->lineGame, gameTitle(gameId));
    }

    nameIndex = 0;
    ui->listUser->clear();
    // A room handed over without members has no names to fetch.
    if (members.isEmpty())
        finishInitialization();
    else
        requestMemberName();
}

void ChatRoomForm::requestMemberName()
{
    core.rooms().requestMemberName(roomId, members[nameIndex].userId);
}

void ChatRoomForm::doRecvGetNameReply(uint room, quint32 result, const QString& name)
{
    if (room != roomId)
        return;
    Member& member = members[nameIndex];
    member.name = result == 0 ? name : QString("(Invalid User)");
    ui->listUser->addItem(member.name);
    ++nameIndex;
    if (nameIndex < members.size())
        requestMemberName();
    else
        finishInitialization();
}

void ChatRoomForm::finishInitialization()
{
    appendLine("*** 入室しました ***");
    initializing = false;
    emit created(this, roomId);
}

int ChatRoomForm::memberIndex(uint userId) const
{
    for (int i = 0; i < members.size(); ++i) {
        if (members[i].userId == userId)
            return i;
    }
    return -1;
}

QString ChatRoomForm::userName(uint userId) const
{
    const int index = memberIndex(userId);
    return index < 0 ? QString("Unknown") : members[index].name;
}

void ChatRoomForm::setBattleEnabled(bool on)
{
    ui->pushButtonBattle->setEnabled(on);
}

// A host has at most one recruitment.
int ChatRoomForm::recruitmentIndex(uint hostId) const
{
    for (int i = 0; i < recruitments.size(); ++i) {
        if (recruitments[i].hostId == hostId)
            return i;
    }
    return -1;
}

Recruitment* ChatRoomForm::recruitmentOf(uint hostId)
{
    const int index = recruitmentIndex(hostId);
    return index < 0 ? nullptr : &recruitments[index];
}

void ChatRoomForm::removeRecruitment(uint hostId)
{
    const int index = recruitmentIndex(hostId);
    if (index >= 0)
        recruitments.removeAt(index);
}

bool ChatRoomForm::isRecruitmentMember(uint hostId, uint userId) const
{
    const int index = recruitmentIndex(hostId);
    return index >= 0 && (userId == hostId || recruitments[index].applicants.contains(userId));
}

Recruitment& ChatRoomForm::findRecruitment(uint hostId)
{
    Recruitment* recruitment = recruitmentOf(hostId);
    if (!recruitment)
        fatalError("なぜか募集が見つからなかった");
    return *recruitment;
}

bool ChatRoomForm::handleSpeak(uint userId, const QString& text)
{
    if (initializing)
        return false;
    appendLine("[" + userName(userId) + "] " + text);
    return true;
}

bool ChatRoomForm::handleEnter(uint userId, const QString& name)
{
    if (initializing)
        return false;
    const int index = memberIndex(userId);
    if (index >= 0) {
        members[index].name = name;
        ui->listUser->item(index)->setText(name);
    } else {
        members.append({userId, name});
        ui->listUser->addItem(name);
    }
    appendLine("*** " + name + "さんが入室しました ***");
    updateUserTitle();
    if (ui->checkSound->isChecked())
        emit bellRung();
    return true;
}

bool ChatRoomForm::handleLeave(uint userId)
{
    if (initializing)
        return false;
    const int index = memberIndex(userId);
    if (index >= 0) {
        delete ui->listUser->takeItem(index);
        const QString name = members.takeAt(index).name;
        appendLine("*** " + name + "さんが退室しました ***");
    }
    updateUserTitle();
    return true;
}

bool ChatRoomForm::handleRecruitStart(uint hostId)
{
    if (initializing)
        return false;
    appendLine("*** " + userName(hostId) + "さんが対戦相手を募集しはじめました ***");
    if (!recruitmentOf(hostId))
        recruitments.append(Recruitment{hostId, {}});
    return true;
}

bool ChatRoomForm::handleRecruitCancel(uint hostId)
{
    if (initializing)
        return false;
    appendLine("*** " + userName(hostId) + "さんが対戦相手の募集をキャンセルしました ***");
    removeRecruitment(hostId);
    return true;
}

bool ChatRoomForm::handleApply(uint hostId, uint applicantId)
{
    if (initializing)
        return false;
    const QString host = userName(hostId);
    const QString applicant = userName(applicantId);
    appendLine("*** " + host + "さんの募集に" + applicant + "さんが応募しました ***");
    Recruitment* recruitment = recruitmentOf(hostId);
    if (recruitment && !recruitment->applicants.contains(applicantId))
        recruitment->applicants.append(applicantId);
    return true;
}

bool ChatRoomForm::handleApplyCancel(uint hostId, uint applicantId)
{
    if (initializing)
        return false;
    const QString host = userName(hostId);
    const QString applicant = userName(applicantId);
    appendLine("*** " + host + "さんの募集に応募していた" + applicant +
               "さんがキャンセルしました ***");
    if (Recruitment* recruitment = recruitmentOf(hostId))
        recruitment->applicants.removeOne(applicantId);
    return true;
}

// The recruitment stays while the game runs: it lists the game's players.
bool ChatRoomForm::handleGameStart(uint hostId)
{
    if (initializing)
        return false;
    appendLine("*** " + userName(hostId) + "さんが主催しているゲームが開始しました ***");
    return true;
}

bool ChatRoomForm::handleGameEnd(uint hostId)
{
    if (initializing)
        return false;
    appendLine("*** " + userName(hostId) + "さんが主催していたゲームが終了しました ***");
    removeRecruitment(hostId);
    return true;
}

bool ChatRoomForm::handleGameLeave(uint hostId, uint leaverId)
{
    if (initializing)
        return false;
    const QString host = userName(hostId);
    const QString leaver = userName(leaverId);
    appendLine("*** " + host + "さんが主催しているゲームから" + leaver + "さんが抜けました ***");
    return true;
}

void ChatRoomForm::on_pushButtonLeave_clicked()
{
    core.rooms().leaveRoom(ui->pushButtonLeave, roomId);
}

void ChatRoomForm::doRecvLeaveReply(uint room, quint32 result)
{
    if (room != roomId)
        return;
    if (result != 0) {
        FeatureMessages(this, "チャットルームから退室").information("退室できませんでした。");
        return;
    }
    // Only the all-rooms log outlives the room.
    emit lineWritten(roomId, "*** 退室しました ***");
    emit left(this);
}

void ChatRoomForm::on_lineSpeak_returnPressed()
{
    speak();
}

void ChatRoomForm::on_btnSpeak_clicked()
{
    speak();
}

// The line comes back from the server as a room event like everybody else's; it is not
// written here.
void ChatRoomForm::speak()
{
    const QString text = ui->lineSpeak->text().left(TextLimit::speakChars);
    if (text.isEmpty())
        return;
    core.rooms().speak(roomId, text);
    ui->lineSpeak->clear();
}

void ChatRoomForm::on_pushButtonBattle_clicked()
{
    core.matches().send(ui->pushButtonBattle, MatchCommands::Recruit, roomId);
}

void ChatRoomForm::appendLine(const QString& line)
{
    log->append(line);
    emit lineWritten(roomId, line);
}

void ChatRoomForm::showUserCount(int count)
{
    ui->groupUser->setTitle(QString("参加者 %1/").arg(count) + capacityText(capacity));
}

void ChatRoomForm::updateUserTitle()
{
    showUserCount(int(members.size()));
}

void ChatRoomForm::closeEvent(QCloseEvent* event)
{
    if (!isEnabled())
        event->ignore();
}

void ChatRoomForm::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange) {
        ui->retranslateUi(this);
        ui->groupRoom->setTitle(QString("ルーム No.%1").arg(roomId));
    }
    QWidget::changeEvent(event);
}
