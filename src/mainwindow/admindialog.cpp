// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/admindialog.h"

#include "ui_admindialog.h"

#include "app/dialogsupport.h"
#include "lobby/accountcommands.h"
#include "textlimits.h"

#include <QCloseEvent>

AdminDialog::AdminDialog(QWidget* parent, AccountCommands& commands)
    : QDialog(parent), ui(new Ui::AdminDialog), commands(commands)
{
    ui->setupUi(this);
}

AdminDialog::~AdminDialog()
{
    delete ui;
}

void AdminDialog::on_pushGmes_clicked()
{
    const QString text = ui->lineGmes->text();
    if (!checkUtf8Length(text, TextLimit::globalMessage)) {
        FeatureMessages(this, "グローバルメッセージの確認")
            .warning("グローバルメッセージが長すぎます。\n入力しなおしてください。");
        return;
    }
    // A message, not a command: the server does not answer, so the tool stays usable.
    commands.sendGlobalMessage(text);
}

// The main window shows the tool once for the whole run and has no way to bring it back.
void AdminDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
}

// Escape would hide it the same way, for good.
void AdminDialog::reject() {}

void AdminDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
