// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class AccountCommands;

namespace Ui
{
class AccountSelectDialog;
}

// The first-run choice between registering a new account, finishing a registration whose key has
// arrived, and entering an existing account. Accepted once an account is stored.
class AccountSelectDialog : public QDialog
{
    Q_OBJECT

  public:
    AccountSelectDialog(QWidget* parent, AccountCommands& commands);
    ~AccountSelectDialog() override;

  private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();

  public slots:
    // Escape lands here without passing the close button; it asks the same question.
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Ui::AccountSelectDialog* ui;
    AccountCommands& commands;
};
