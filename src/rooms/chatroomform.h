#pragma once

#include "rooms/recruitment.h"

#include <QString>
#include <QVector>
#include <QWidget>

class BatchedLog;
class ProtocolSocket;

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
class ChatRoomForm : public QWidget
{
    Q_OBJECT

  public:
    // Takes ownership of userIds, the members the server named on entry.
    ChatRoomForm(ProtocolSocket* socket, uint roomId, QVector<uint>* userIds);
    ~ChatRoomForm() override;

    void requestRoomInfo();

    QString userName(uint userId) const;
    void setBattleEnabled(bool on);
    bool isRecruitmentMember(uint hostId, uint userId) const;
    // Only for a host that isRecruitmentMember has confirmed.
    Recruitment& findRecruitment(uint hostId);

    // Room events, in the order the server sent them. Each writes its line and returns true, or
    // returns false and does nothing while the room is still initializing.
    bool handleSpeak(uint userId, const QString& text);
    bool handleEnter(uint userId, const QString& name);
    bool handleLeave(uint userId);
    bool handleRecruitStart(uint hostId);
    bool handleRecruitCancel(uint hostId);
    bool handleApply(uint hostId, uint applicantId);
    bool handleApplyCancel(uint hostId, uint applicantId);
    bool handleGameStart(uint hostId);
    bool handleGameEnd(uint hostId);
    bool handleGameLeave(uint hostId, uint leaverId);

    // Read by the main window: the router holds this room's events while initializing.
    bool initializing = true;
    const uint roomId;
    QString title;
    uint gameId;

  signals:
    void created(ChatRoomForm* form, uint roomId);

  private slots:
    void doRecvGetInfoReply();
    void doRecvGetNameReply();
    void on_pushButtonLeave_clicked();
    void doRecvLeaveReply();
    void on_lineSpeak_returnPressed();
    void on_btnSpeak_clicked();
    void on_pushButtonBattle_clicked();
    void doRecvRecruitMatchReply();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void beginRoomCommand(const char* replySlot);
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
    ProtocolSocket* socket;
    BatchedLog* log;
    quint32 capacity = 0;
    QVector<Member> members;
    int nameIndex = 0;
    QVector<Recruitment> recruitments;
};
