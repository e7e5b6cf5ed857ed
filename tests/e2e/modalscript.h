#pragma once

#include <QDeadlineTimer>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVector>

#include <functional>

// A modal window's class and title, and a message box's text, for failure messages.
QString describeModal(const QWidget* modal);

// Answers the modal windows of a whole flow in their order. Each step waits until the active
// modal window is of its type and ready (visible, enabled, and whatever the step asks), then acts
// on it in a later turn of the event loop: an action that opens the next window in a nested loop
// must not hold up the script. A flow stuck inside a modal window's loop past the time given ends
// the process, naming the step it waited for, since the test below that loop never gets control
// back; what the test started dies with it.
class ModalScript : public QObject
{
    Q_OBJECT

  public:
    explicit ModalScript(int timeoutMs = 30000);

    template <class Window>
    ModalScript& then(std::function<void(Window*)> action,
                      std::function<bool(Window*)> ready = nullptr)
    {
        steps.append({&Window::staticMetaObject,
                      [ready](QWidget* w) { return !ready || ready(static_cast<Window*>(w)); },
                      [action](QWidget* w) { action(static_cast<Window*>(w)); }});
        return *this;
    }
    // A message box with this icon, title and text; its OK or Yes button is pressed. A box that
    // differs is pressed too, so that the flow goes on, and reported by failure().
    ModalScript& box(QMessageBox::Icon icon, const QString& title, const QString& text);

    // Waits until every step has acted.
    bool finish();
    QString failure() const { return mismatch; }

  private:
    struct Step {
        const QMetaObject* type;
        std::function<bool(QWidget*)> ready;
        std::function<void(QWidget*)> act;
    };

    void poll();
    bool isReady(QWidget* modal) const;
    void act(QWidget* modal);
    bool done() const { return next == steps.size() && !pending; }

    QVector<Step> steps;
    qsizetype next = 0;
    bool pending = false;
    QString mismatch;
    QDeadlineTimer deadline;
    QTimer timer;
};
