// SPDX-License-Identifier: GPL-3.0-or-later
#include "match/matchsupport.h"

#include <QMessageBox>

void showMatchRefusals(MatchCommands& commands, QWidget* dialog, MatchCommands::Command command,
                       const QString& text)
{
    QObject::connect(&commands, &MatchCommands::replied, dialog,
                     [=](QObject* requester, MatchCommands::Command replied, uint, quint32 result) {
                         if (requester == dialog && replied == command && result != 0)
                             showMatchInformation(dialog, "対戦マッチング", text);
                     });
}

void showMatchInformation(QWidget* dialog, const QString& title, const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, dialog);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

QString participationText(quint32 count, quint32 maxPlayers)
{
    return QString("参加状況(%1 / %2人)").arg(count).arg(maxPlayers);
}
