#include "support/modalanswer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>

#include <cstdio>

static const char* const answeredMark = "answeredByTest";

ModalWatcher::ModalWatcher(Handler handler, bool everyWindow)
    : handler(std::move(handler)), everyWindow(everyWindow)
{
    connect(&timer, &QTimer::timeout, this, &ModalWatcher::poll);
    timer.start(10);
}

void ModalWatcher::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible() || modal->property(answeredMark).toBool())
        return;
    // Marked until hidden, so that a window still closing is not answered twice while a new one
    // at the same address is.
    modal->setProperty(answeredMark, true);
    modal->installEventFilter(this);
    if (!handler(modal)) {
        modal->setProperty(answeredMark, false);
        return;
    }
    ++handledCount;
    if (!everyWindow)
        timer.stop();
}

bool ModalWatcher::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Hide)
        watched->setProperty(answeredMark, false);
    return false;
}

std::unique_ptr<ModalWatcher> answerMessageBox(SeenBox* seen, QMessageBox::StandardButton button)
{
    return std::make_unique<ModalWatcher>([seen, button](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        // A box without the button is somebody else's to answer.
        if (!box || !box->button(button))
            return false;
        seen->icon = box->icon();
        seen->title = box->windowTitle();
        seen->text = box->text();
        box->button(button)->click();
        return true;
    });
}

std::unique_ptr<ModalWatcher> answerEveryModalWindow(std::function<void()> beforeAnswer)
{
    return std::make_unique<ModalWatcher>(
        [beforeAnswer](QWidget* modal) {
            if (beforeAnswer)
                beforeAnswer();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                std::fprintf(stderr, "[box] %s | %s\n", qPrintable(box->windowTitle()),
                             qPrintable(box->text()));
                std::fflush(stderr);
                const auto buttons = box->buttons();
                if (!buttons.isEmpty())
                    buttons.first()->click();
                return true;
            }
            if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                std::fprintf(stderr, "[dialog] %s\n", modal->metaObject()->className());
                std::fflush(stderr);
                dialog->accept();
                return true;
            }
            return false;
        },
        true);
}
