// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

class RoomCommands;

namespace Ui
{
class ChatRoomCreateDialog;
}

// Creates a chat room; once the server has made it, the user is inside and the room is entered
// like a room from the list.
class ChatRoomCreateDialog : public QDialog
{
    Q_OBJECT

  public:
    ChatRoomCreateDialog(QWidget* parent, RoomCommands& commands);
    ~ChatRoomCreateDialog() override;

  signals:
    void roomCreated(uint roomId);

  private slots:
    void on_buttonBox_accepted();
    void doRecvReply(quint32 roomId);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Ui::ChatRoomCreateDialog* ui;
    RoomCommands& commands;
};
