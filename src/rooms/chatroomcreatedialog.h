#pragma once

#include <QDialog>

class ProtocolSocket;

namespace Ui
{
class ChatRoomCreateDialog;
}

// Creates a chat room and, once the server has made it, enters it like a room from the list.
class ChatRoomCreateDialog : public QDialog
{
    Q_OBJECT

  public:
    ChatRoomCreateDialog(QWidget* parent, ProtocolSocket* socket);
    ~ChatRoomCreateDialog() override;

  private slots:
    void on_buttonBox_accepted();
    void doRecvReply();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Ui::ChatRoomCreateDialog* ui;
    ProtocolSocket* socket;
};
