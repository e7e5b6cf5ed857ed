#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

// Answers modal windows that the code under test runs with exec(). Arrange the answer before the
// call that opens the window, then check handled().
class ModalWatcher : public QObject
{
    Q_OBJECT

  public:
    // handler returns true when it took care of the widget; the watcher then stops, unless it was
    // told to answer every modal window.
    using Handler = std::function<bool(QWidget* modal)>;
    explicit ModalWatcher(Handler handler, bool everyWindow = false);

    int handled() const { return handledCount; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void poll();

    Handler handler;
    bool everyWindow;
    int handledCount = 0;
    QTimer timer;
};

struct SeenBox {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
};

// Presses button on the next message box and records it in seen.
std::unique_ptr<ModalWatcher>
answerMessageBox(SeenBox* seen, QMessageBox::StandardButton button = QMessageBox::Ok);

// Calls action with the next modal dialog of type Dialog.
template <class Dialog>
std::unique_ptr<ModalWatcher> answerDialog(std::function<void(Dialog*)> action)
{
    return std::make_unique<ModalWatcher>([action](QWidget* modal) {
        auto* dialog = qobject_cast<Dialog*>(modal);
        if (!dialog)
            return false;
        action(dialog);
        return true;
    });
}

// For scenarios in a child process: writes every message box to stderr as
// "[box] <title> | <text>" and presses its first button; accepts any other dialog. A given
// beforeAnswer runs first, while the window is still up.
std::unique_ptr<ModalWatcher> answerEveryModalWindow(std::function<void()> beforeAnswer = {});
