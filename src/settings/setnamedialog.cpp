// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/setnamedialog.h"

#include "ui_setnamedialog.h"

#include "app/dialogsupport.h"
#include "lobby/accountcommands.h"
#include "textlimits.h"

SetNameDialog::SetNameDialog(QWidget* parent, AccountCommands& commands)
    : QDialog(parent), ui(new Ui::SetNameDialog), commands(commands)
{
    ui->setupUi(this);
}

SetNameDialog::~SetNameDialog()
{
    delete ui;
}

void SetNameDialog::on_buttonBox_accepted()
{
    const FeatureMessages check(this, "ハンドル名の設定");
    const QString name = ui->lineEdit->text();
    if (name.isEmpty()) {
        check.warning("ハンドル名を入力してください。");
        return;
    }
    if (!checkUtf8Length(name, TextLimit::handleName)) {
        check.warning("ハンドル名が長すぎます。\n入力しなおしてください。");
        return;
    }
    commands.setName(name);
    accept();
}

void SetNameDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { reject(); });
}

void SetNameDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
