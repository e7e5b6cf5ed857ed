// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

namespace Ui
{
class UpdateDialog;
}

// Tells the user that a newer client or game has been released and offers the maker's page.
class UpdateDialog : public QDialog
{
    Q_OBJECT

  public:
    UpdateDialog(QWidget* parent, const QString& message, const QString& trailer);
    ~UpdateDialog() override;

    static QUrl homepage();

  private slots:
    void on_linkTilework_clicked();

  protected:
    void changeEvent(QEvent* event) override;

  private:
    Ui::UpdateDialog* ui;
};
