// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobby/matchcommands.h"

#include <QString>
#include <QWidget>

// Shows text in an information box over dialog when the reply to the dialog's own command
// refuses it.
void showMatchRefusals(MatchCommands& commands, QWidget* dialog, MatchCommands::Command command,
                       const QString& text);

// An information box over dialog with one Ok button. It does not wait to be answered: the main
// window may delete the dialog at any time, as the server's events come, and the box goes with it.
void showMatchInformation(QWidget* dialog, const QString& title, const QString& text);

// "参加状況(count / max人)", as the application and waiting dialogs show it.
QString participationText(quint32 count, quint32 maxPlayers);
