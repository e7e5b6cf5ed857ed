// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/setpassdialog.h"

#include "ui_setpassdialog.h"

#include "app/dialogsupport.h"
#include "app/usersettingsstore.h"
#include "lobby/accountcommands.h"
#include "textlimits.h"

namespace
{
const char* const title = "パスワードの設定";
} // namespace

SetPassDialog::SetPassDialog(QWidget* parent, AccountCommands& commands)
    : QDialog(parent), ui(new Ui::SetPassDialog), commands(commands)
{
    ui->setupUi(this);
    connect(&commands, &AccountCommands::passwordReplied, this, &SetPassDialog::doRecvReply);
}

SetPassDialog::~SetPassDialog()
{
    delete ui;
}

void SetPassDialog::on_buttonBox_accepted()
{
    const FeatureMessages check(this, title);
    const QString current = ui->lineEditCurrent->text();
    const QString next = ui->lineEditNew0->text();
    const QString again = ui->lineEditNew1->text();
    if (current.isEmpty() || next.isEmpty() || again.isEmpty()) {
        check.warning("パスワードを入力してください。");
        return;
    }
    if (!checkUtf8Length(current, TextLimit::password) ||
        !checkUtf8Length(next, TextLimit::password)) {
        check.warning("パスワード名が長すぎます。\n入力しなおしてください。");
        return;
    }
    if (next != again) {
        check.warning("新しいパスワードの入力ミスです。\n入力しなおしてください。");
        return;
    }
    commands.setPassword(this, current, next);
}

void SetPassDialog::doRecvReply(quint32 result)
{
    const FeatureMessages messages(this, title);
    const RefusalTexts refusals = {
        {1, "現在のパスワードが一致しません。\nご確認ください。"},
        {2, "入力した新しいパスワードの文字数が長すぎます。\n入力しなおしてください。"},
    };
    if (!acceptResult(result, refusals, messages))
        return;
    // The next login sends the stored password; it must be the one the server now holds.
    storeUserSettings({{"account/password", ui->lineEditNew0->text()}});
    messages.information("パスワードの変更が完了しました。");
    accept();
}

void SetPassDialog::closeEvent(QCloseEvent* event)
{
    closeAsCancelWhenIdle(event, this, [this] { reject(); });
}

void SetPassDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
