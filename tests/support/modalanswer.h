#pragma once

#include "support/modalanswerer.h"

#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>

// A message box as checks name it: its icon, title and text.
QString boxText(QMessageBox::Icon icon, const QString& title, const QString& text);
// A modal window's class and title, or a message box as boxText names it.
QString describeModal(const QWidget* modal);

// Every modal window shown while it lives, described in order. act answers a window as the test
// wants; one it leaves up gets ModalAnswerer's answer. Arrange it before the call that opens it.
struct Modals {
    explicit Modals(std::function<void(QWidget*)> act = {});
    QStringList seen;
    ModalAnswerer answerer;
};

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
    QTimer poll;
};
