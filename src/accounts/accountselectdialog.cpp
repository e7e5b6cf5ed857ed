// SPDX-License-Identifier: GPL-3.0-or-later
#include "accounts/accountselectdialog.h"

#include "ui_accountselectdialog.h"

#include "accounts/accountregdialog.h"
#include "accounts/accountregkeydialog.h"
#include "accounts/accountregmaildialog.h"
#include "accounts/giveupquestion.h"
#include "app/dialogsupport.h"
#include "lobby/accountcommands.h"

AccountSelectDialog::AccountSelectDialog(QWidget* parent, AccountCommands& commands)
    : QDialog(parent), ui(new Ui::AccountSelectDialog), commands(commands)
{
    ui->setupUi(this);
    // A forgotten account has no recovery step yet; the choice waits in the form until it does.
    ui->rdoForget->hide();
}

AccountSelectDialog::~AccountSelectDialog()
{
    delete ui;
}

void AccountSelectDialog::on_buttonBox_accepted()
{
    // The two registration steps only mail something to the user; whatever their outcome, the
    // user comes back here to take the next step.
    if (ui->rdoFirst->isChecked()) {
        AccountRegMailDialog dialog(this, commands);
        dialog.exec();
    } else if (ui->rdoKey->isChecked()) {
        AccountRegKeyDialog dialog(this, commands);
        dialog.exec();
    } else if (ui->rdoExist->isChecked()) {
        AccountRegDialog dialog(this);
        if (dialog.exec() == QDialog::Accepted)
            accept();
    }
}

void AccountSelectDialog::on_buttonBox_rejected()
{
    if (!confirmGiveUpAccountSetup(this))
        return;
    // Without an account there is nothing left to do; the server's answer to Quit ends the
    // program.
    commands.quit();
    QDialog::reject();
}

void AccountSelectDialog::reject()
{
    on_buttonBox_rejected();
}

void AccountSelectDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancel(event, [this] { on_buttonBox_rejected(); });
}

void AccountSelectDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
