// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class AccountCommands;

namespace Ui
{
class SetMailDialog;
}

// Asks for a new mail address and hands it to the server, which does not answer.
class SetMailDialog : public QDialog
{
    Q_OBJECT

  public:
    SetMailDialog(QWidget* parent, AccountCommands& commands);
    ~SetMailDialog() override;

  private slots:
    void on_buttonBox_accepted();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Ui::SetMailDialog* ui;
    AccountCommands& commands;
};
