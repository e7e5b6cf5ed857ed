// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/lobbyroom.h"
#include "lobby/recruitment.h"
#include "lobbymessages.h"

#include <QString>
#include <QVector>
#include <QWidget>

class BatchedLog;
class LobbyCore;

namespace Ui
{
class ChatRoomForm;
}

// One participant of a room; the name is empty until fetched.
struct Member {
    uint userId = 0;
    QString name;
};

// One entered chat room, shown as a tab of the main window: its log, title, game and
// participants, chat input, leaving and the battle button.
class ChatRoomForm : public QWidget, public LobbyRoom
{
    Q_OBJECT

  public:
    // Takes ownership of userIds, the members the server named on entry. Until its tab is added
    // the form is a hidden child of the window that its commands disable.
    ChatRoomForm(LobbyCore& core, uint roomId, QVector<uint>* userIds, QWidget* parent);
    ~ChatRoomForm() override;

    void requestRoomInfo();

    bool isLoading() const override { return initializing; }
    QString roomTitle() const override { return title; }
    uint roomGameId() const override { return gameId; }
    QString userName(uint userId) const override;
    void setBattleEnabled(bool on) override;
    bool isRecruitmentMember(uint hostId, uint userId) const override;
    Recruitment& findRecruitment(uint hostId) override;

    bool handleSpeak(uint userId, const QString& text) override;
    bool handleEnter(uint userId, const QString& name) override;
    bool handleLeave(uint userId) override;
    bool handleRecruitStart(uint hostId) override;
    bool handleRecruitCancel(uint hostId) override;
    bool handleApply(uint hostId, uint applicantId) override;
    bool handleApplyCancel(uint hostId, uint applicantId) override;
    bool handleGameStart(uint hostId) override;
    bool handleGameEnd(uint hostId) override;
    bool handleGameLeave(uint hostId, uint leaverId) override;

    // The router holds this room's events while initializing.
    bool initializing = true;
    const uint roomId;

  signals:
    void created(ChatRoomForm* form, uint roomId);
    // Each line the room writes, for the log of all rooms.
    void lineWritten(uint roomId, const QString& line);
    // A member entered while the room's sound is on.
    void bellRung();
    // The server let the user out of the room.
    void left(ChatRoomForm* form);

  private slots:
    void doRecvGetInfoReply(uint room, const RoomInfoReply& info);
    void doRecvGetNameReply(uint room, quint32 result, const QString& name);
    void on_pushButtonLeave_clicked();
    void doRecvLeaveReply(uint room, quint32 result);
    void on_lineSpeak_returnPressed();
    void on_btnSpeak_clicked();
    void on_pushButtonBattle_clicked();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void requestMemberName();
    void finishInitialization();
    void speak();
    void appendLine(const QString& line);
    void showUserCount(int count);
    void updateUserTitle();
    int memberIndex(uint userId) const;
    int recruitmentIndex(uint hostId) const;
    Recruitment* recruitmentOf(uint hostId);
    void removeRecruitment(uint hostId);

    Ui::ChatRoomForm* ui;
    LobbyCore& core;
    QString title;
    uint gameId = chatOnlyGameId;
    BatchedLog* log;
    quint32 capacity = 0;
    QVector<Member> members;
    int nameIndex = 0;
    QVector<Recruitment> recruitments;
};
