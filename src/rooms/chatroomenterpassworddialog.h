// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

namespace Ui
{
class ChatRoomEnterPasswordDialog;
}

// Asks for the password of a locked room before the list sends the entry request.
class ChatRoomEnterPasswordDialog : public QDialog
{
    Q_OBJECT

  public:
    explicit ChatRoomEnterPasswordDialog(QWidget* parent);
    ~ChatRoomEnterPasswordDialog() override;

    QString password() const;

  private slots:
    void on_buttonBox_accepted();

  protected:
    void changeEvent(QEvent* event) override;

  private:
    Ui::ChatRoomEnterPasswordDialog* ui;
};
