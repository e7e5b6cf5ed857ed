// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

namespace Ui
{
class AccountRegDialog;
}

// Last registration step, or the whole of it for a user who already has an account: stores the
// account name and password for the login. The server checks them only when logging in.
class AccountRegDialog : public QDialog
{
    Q_OBJECT

  public:
    explicit AccountRegDialog(QWidget* parent);
    ~AccountRegDialog() override;

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
    Ui::AccountRegDialog* ui;
};
