// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounts/giveupquestion.h"

#include <QMessageBox>

bool confirmGiveUpAccountSetup(QWidget* parent)
{
    return QMessageBox::question(parent, "アカウント情報",
                                 "tileParlorを利用するにはアカウント情報が必要です。\n"
                                 "アカウント情報の設定をやめますか？",
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}
