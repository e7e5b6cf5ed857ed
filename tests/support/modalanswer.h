#pragma once

#include "support/modalanswerer.h"

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

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
        return dialog && (action(dialog), true);
    });
}

// A modal window's class and title, and a message box's text, for failure messages.
QString describeModal(const QWidget* modal);

// Answers the modal windows of a whole flow in their order. Each step waits until the active
// modal window is of its type, enabled and ready as the step asks, then acts on it in a later
// turn of the event loop: an action that opens the next window in a nested loop must not hold up
// the watcher.
class ModalScript
{
  public:
    ModalScript();

    template <class Window>
    ModalScript& then(std::function<void(Window*)> action,
                      std::function<bool(Window*)> ready = nullptr)
    {
        steps.append({&Window::staticMetaObject,
                      [ready](QWidget* w) { return !ready || ready(static_cast<Window*>(w)); },
                      [action](QWidget* w) { action(static_cast<Window*>(w)); }});
        return *this;
    }
    // A message box with this icon and title whose text has this part; its OK or Yes button is
    // pressed. A box that differs is pressed too, so that the flow goes on, and reported by
    // failure().
    ModalScript& box(QMessageBox::Icon icon, const QString& title, const QString& part);

    // Waits until every step has acted.
    bool finish(int timeoutMs = 30000);
    QString failure() const { return mismatch; }

  private:
    struct Step {
        const QMetaObject* type;
        std::function<bool(QWidget*)> ready;
        std::function<void(QWidget*)> act;
    };

    bool isReady(QWidget* modal) const;

    QVector<Step> steps;
    qsizetype next = 0;
    bool pending = false;
    QString mismatch;
    // Never takes a window for its own: the same one may be the next step's too.
    ModalWatcher watcher;
};
