#pragma once

#include "lobbywire.h"
#include "match/enginepipes.h"

#include <QDialog>
#include <QVector>

class ChatRoomForm;
class ProtocolSocket;
struct ChildProcess;
struct Recruitment;

namespace Ui
{
class BattleDialog;
}

// The window beside a running match: it names the game and the players, runs the game's engine
// with its order, tells the server when the engine has ended, and stops the engine when the
// match is over (on deletion, which the main window does when the server says so).
class BattleDialog : public QDialog
{
    Q_OBJECT

  public:
    // minPlayers is the recruit's minimum on the host's client and all bits set on a guest's.
    BattleDialog(QWidget* parent, ProtocolSocket* socket, ChatRoomForm* form,
                 const Recruitment& recruitment, uint minPlayers, uint gameId,
                 const QString& hostAddress);
    ~BattleDialog() override;

    // Ends the match on the server; only the host does, and only once.
    void sendEndBattle();
    // Reports the own engine's end: the host ends the match, a guest leaves it; once.
    void sendDropBattle();
    // Drops a player who left. False while a command is out: the caller asks again later.
    bool removeMember(uint userId);
    // True when no command is out, so that the dialog may be deleted.
    bool isIdle() const;

    // Read by the main window, which finds the dialog by its chat room and host.
    const uint roomId;
    const uint hostId;

  public slots:
    // The window stays until the match is over, whatever key is pressed.
    void reject() override;

  private slots:
    void doCheckGame();
    void doRecvEndReply();
    void doRecvDropReply();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    enum StartError {
        Started,
        NoResources,
        NotInstalled,
        StartFailed,
    };

    StartError startEngine(uint gameId, const QString& hostAddress);
    void sendBattleCommand(RequestCode code, const char* replySlot);
    void readBattleReply();

    Ui::BattleDialog* ui;
    ProtocolSocket* socket;
    QVector<uint> applicants;
    uint minPlayers;
    ChildProcess* process = nullptr;
    EnginePipes pipes;
    bool endSent = false;
};
