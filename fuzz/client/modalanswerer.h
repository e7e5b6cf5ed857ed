#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

// Answers the client's modal windows, which would otherwise wait for a user in an event loop of
// their own. The answer is queued, so that it comes once that loop runs: a message box gets its
// first button, any other dialog is rejected.
class ModalAnswerer : public QObject
{
    Q_OBJECT

  public:
    // Called for every window being shown; only modal ones are answered.
    void windowShown(QWidget* window);
    // Closes every modal window at once, bypassing what the client does on a rejection: the
    // client has ended and only its event loops have to be left.
    void closeAll();
    void setClosing(bool on) { closing = on; }

  private:
    void answer(const QPointer<QWidget>& window);

    bool closing = false;
};
