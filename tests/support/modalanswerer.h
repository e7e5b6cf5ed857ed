// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

// Answers every modal window the program shows, which would otherwise wait for a user in an
// event loop of its own: a message box gets its first button, any other dialog is rejected. The
// answer is queued, so that it comes once that loop runs. A given beforeAnswer runs first, while
// the window is still up.
class ModalAnswerer : public QObject
{
    Q_OBJECT

  public:
    explicit ModalAnswerer(std::function<void(QWidget*)> beforeAnswer = {});

    // Closes every modal window at once, bypassing what the program does on a rejection: the
    // program has ended and only its event loops have to be left.
    void closeAll();
    void setClosing(bool on) { closing = on; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void answer(const QPointer<QWidget>& window);

    std::function<void(QWidget*)> beforeAnswer;
    bool closing = false;
};

// For scenarios in a child process: answers every modal window and writes each to stderr first,
// a message box as "[box] <title> | <text>", any other window as "[dialog] <class>".
std::unique_ptr<ModalAnswerer>
answerEveryModalWindow(std::function<void(QWidget*)> beforeAnswer = {});
