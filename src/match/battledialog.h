// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/matchviews.h"
#include "match/enginepipes.h"

#include <QDialog>
#include <QVector>

class MatchCommands;
struct ChildProcess;
struct Recruitment;

namespace Ui
{
class BattleDialog;
}

// The window beside a running match: it names the game and the players, runs the game's engine
// with its order, tells the server when the engine has ended, and stops the engine when the
// match is over (on deletion, which the lobby's router does when the server says so).
class BattleDialog : public QDialog, public BattleView
{
    Q_OBJECT

  public:
    // minPlayers is the recruit's minimum on the host's client and all bits set on a guest's.
    BattleDialog(QWidget* parent, MatchCommands& commands, const LobbyRoom& room, uint roomId,
                 const Recruitment& recruitment, uint minPlayers, const QString& hostAddress);
    ~BattleDialog() override;

    // Ends the match on the server; only the host does, and only once.
    void sendEndBattle();
    // Reports the own engine's end: the host ends the match, a guest leaves it; once.
    void sendDropBattle();
    // Drops a player who left.
    bool removeMember(uint userId) override;
    bool isIdle() const override;

  public slots:
    // The window stays until the match is over, whatever key is pressed.
    void reject() override;

  private slots:
    void doCheckGame();

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
    static QString startErrorText(StartError error);

    const uint roomId;
    const uint hostId;
    Ui::BattleDialog* ui;
    MatchCommands& commands;
    QVector<uint> applicants;
    uint minPlayers;
    ChildProcess* process = nullptr;
    EnginePipes pipes;
    bool endSent = false;
};
