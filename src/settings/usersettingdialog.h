// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class AccountCommands;

namespace Ui
{
class UserSettingDialog;
}

// Shows the handle name and mail address as the server holds them and opens the dialogs that
// change them or the password.
class UserSettingDialog : public QDialog
{
    Q_OBJECT

  public:
    UserSettingDialog(QWidget* parent, AccountCommands& commands);
    ~UserSettingDialog() override;

    void fetchUserInfo();

  signals:
    // The own name as the server has it now, each time it is fetched.
    void nameFetched(const QString& name);

  private slots:
    void doRecvNameReply(quint32 result, const QString& name);
    void doRecvMailReply(const QString& mail);
    void on_pushButtonPassword_clicked();
    void on_pushButtonName_clicked();
    void on_pushButtonMail_clicked();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void runThenRefetch(QDialog& change);

    Ui::UserSettingDialog* ui;
    AccountCommands& commands;
};
