// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class AccountCommands;

namespace Ui
{
class SetNameDialog;
}

// Asks for a new handle name and hands it to the server, which does not answer.
class SetNameDialog : public QDialog
{
    Q_OBJECT

  public:
    SetNameDialog(QWidget* parent, AccountCommands& commands);
    ~SetNameDialog() override;

  private slots:
    void on_buttonBox_accepted();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Ui::SetNameDialog* ui;
    AccountCommands& commands;
};
