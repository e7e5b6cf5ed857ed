// SPDX-License-Identifier: GPL-3.0-or-later
#include "mainwindow/updatedialog.h"

#include "ui_updatedialog.h"

#include <QDesktopServices>
#include <QUrl>

UpdateDialog::UpdateDialog(QWidget* parent, const QString& message, const QString& trailer)
    : QDialog(parent), ui(new Ui::UpdateDialog)
{
    ui->setupUi(this);
    ui->linkTilework->setFlat(true);
    ui->labelUpper->setText(message);
    ui->labelLower->setText(trailer);
}

UpdateDialog::~UpdateDialog()
{
    delete ui;
}

QUrl UpdateDialog::homepage()
{
    return QUrl(TILEPARLOR_HOMEPAGE_URL);
}

void UpdateDialog::on_linkTilework_clicked()
{
    QDesktopServices::openUrl(homepage());
}

void UpdateDialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        ui->retranslateUi(this);
    QDialog::changeEvent(event);
}
