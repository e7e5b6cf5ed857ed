// SPDX-License-Identifier: GPL-3.0-or-later
#include "match/matchdialogs.h"

#include "lobby/lobbycore.h"
#include "match/battledialog.h"
#include "match/chatapplymatchdialog.h"
#include "match/chatrecruitmatchdialog.h"
#include "match/chatwaitmatchdialog.h"

namespace
{
template <class Dialog> Dialog* shown(Dialog* dialog)
{
    dialog->show();
    return dialog;
}
} // namespace

MatchView* MatchDialogs::openRecruit(const LobbyRoom& room, uint roomId, uint minPlayers,
                                     uint maxPlayers)
{
    return shown(
        new ChatRecruitMatchDialog(parent, core.matches(), room, roomId, minPlayers, maxPlayers));
}

OfferView* MatchDialogs::openOffer(uint roomId, uint hostId, const QString& hostName,
                                   uint maxPlayers)
{
    auto* offer =
        new ChatApplyMatchDialog(parent, core.matches(), roomId, hostId, hostName, maxPlayers);
    QObject::connect(
        offer, &ChatApplyMatchDialog::declined, offer,
        [this](ChatApplyMatchDialog* declined) { core.router().removeApplyDialog(declined); });
    return shown(offer);
}

MatchView* MatchDialogs::openWait(uint roomId, uint hostId, const QString& hostName,
                                  uint maxPlayers, uint participantCount)
{
    return shown(new ChatWaitMatchDialog(parent, core.matches(), roomId, hostId, hostName,
                                         maxPlayers, participantCount));
}

BattleView* MatchDialogs::openBattle(const LobbyRoom& room, uint roomId,
                                     const Recruitment& recruitment, uint minPlayers,
                                     const QString& hostAddress)
{
    return shown(new BattleDialog(parent, core.matches(), room, roomId, recruitment, minPlayers,
                                  hostAddress));
}
