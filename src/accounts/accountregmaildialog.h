// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class AccountCommands;

namespace Ui
{
class AccountRegMailDialog;
}

// First registration step: the server mails a registration key to the address given here.
class AccountRegMailDialog : public QDialog
{
    Q_OBJECT

  public:
    AccountRegMailDialog(QWidget* parent, AccountCommands& commands);
    ~AccountRegMailDialog() override;

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
    Ui::AccountRegMailDialog* ui;
    AccountCommands& commands;
};
