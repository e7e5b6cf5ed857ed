// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class AccountCommands;

namespace Ui
{
class SetPassDialog;
}

// Changes the password on the server and, once the server agreed, in the stored account.
class SetPassDialog : public QDialog
{
    Q_OBJECT

  public:
    SetPassDialog(QWidget* parent, AccountCommands& commands);
    ~SetPassDialog() override;

  private slots:
    void on_buttonBox_accepted();
    void doRecvReply(quint32 result);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Ui::SetPassDialog* ui;
    AccountCommands& commands;
};
