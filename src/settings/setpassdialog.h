#pragma once

#include <QDialog>

class ProtocolSocket;

namespace Ui
{
class SetPassDialog;
}

// Changes the password on the server and, once the server agreed, in the stored account.
class SetPassDialog : public QDialog
{
    Q_OBJECT

  public:
    SetPassDialog(QWidget* parent, ProtocolSocket* socket);
    ~SetPassDialog() override;

  private slots:
    void on_buttonBox_accepted();
    void doRecvReply();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    Ui::SetPassDialog* ui;
    ProtocolSocket* socket;
};
