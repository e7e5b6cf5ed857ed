// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class AccountCommands;

namespace Ui
{
class AccountRegKeyDialog;
}

// Second registration step: the key from the first mail makes the server create the account and
// mail its login information.
class AccountRegKeyDialog : public QDialog
{
    Q_OBJECT

  public:
    AccountRegKeyDialog(QWidget* parent, AccountCommands& commands);
    ~AccountRegKeyDialog() override;

  private slots:
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void doRecvReply(quint32 result);

  public slots:
    // Escape lands here without passing the close button; it asks the same question.
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Ui::AccountRegKeyDialog* ui;
    AccountCommands& commands;
};
