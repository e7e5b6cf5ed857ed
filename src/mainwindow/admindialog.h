// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class AccountCommands;

namespace Ui
{
class AdminDialog;
}

// The administrators' tool: sends a line of text to every connected user as a global message.
class AdminDialog : public QDialog
{
    Q_OBJECT

  public:
    AdminDialog(QWidget* parent, AccountCommands& commands);
    ~AdminDialog() override;

  private slots:
    void on_pushGmes_clicked();

  public slots:
    void reject() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Ui::AdminDialog* ui;
    AccountCommands& commands;
};
