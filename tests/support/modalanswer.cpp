#include "support/modalanswer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTest>

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
        *seen = {box->icon(), box->windowTitle(), box->text()};
        box->button(button)->click();
        return true;
    });
}

QString describeModal(const QWidget* modal)
{
    if (!modal)
        return "none";
    QString text = QString("%1 \"%2\"").arg(modal->metaObject()->className(), modal->windowTitle());
    if (const auto* box = qobject_cast<const QMessageBox*>(modal))
        text += " saying \"" + box->text() + "\"";
    return text;
}

ModalScript::ModalScript()
    : watcher(
          [this](QWidget* modal) {
              if (pending || !isReady(modal))
                  return false;
              pending = true;
              // Checked again: a command sent meanwhile (the room list refreshes on its own)
              // disables the window, and a click on it would be lost.
              QTimer::singleShot(0, &watcher, [this, target = QPointer<QWidget>(modal)] {
                  pending = false;
                  if (isReady(target))
                      steps[next++].act(target);
              });
              return false;
          },
          true)
{
}

ModalScript& ModalScript::box(QMessageBox::Icon icon, const QString& title, const QString& part)
{
    return then<QMessageBox>([this, icon, title, part](QMessageBox* box) {
        if (box->icon() != icon || box->windowTitle() != title || !box->text().contains(part))
            mismatch += QString("expected box \"%1\" / \"%2\", saw %3\n")
                            .arg(title, part, describeModal(box));
        QAbstractButton* button = box->button(QMessageBox::Ok);
        (button ? button : box->button(QMessageBox::Yes))->click();
    });
}

bool ModalScript::isReady(QWidget* modal) const
{
    return modal && next < steps.size() && modal->isVisible() && modal->isEnabled() &&
           modal->metaObject()->inherits(steps[next].type) && steps[next].ready(modal);
}

bool ModalScript::finish(int timeoutMs)
{
    if (QTest::qWaitFor([this] { return next == steps.size() && !pending; }, timeoutMs))
        return true;
    mismatch +=
        QString("step %1 of %2 found no %3 ready; the active modal window is %4")
            .arg(next + 1)
            .arg(steps.size())
            .arg(steps[next].type->className(), describeModal(QApplication::activeModalWidget()));
    return false;
}
