#include "modalscript.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QThread>

QString describeModal(const QWidget* modal)
{
    if (!modal)
        return "none";
    QString text = QString("%1 \"%2\"").arg(modal->metaObject()->className(), modal->windowTitle());
    if (const auto* box = qobject_cast<const QMessageBox*>(modal))
        text += " saying \"" + box->text() + "\"";
    return text;
}

ModalScript::ModalScript(int timeoutMs) : deadline(timeoutMs)
{
    connect(&timer, &QTimer::timeout, this, &ModalScript::poll);
    timer.start(10);
}

ModalScript& ModalScript::box(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    return then<QMessageBox>([this, icon, title, text](QMessageBox* box) {
        if (box->icon() != icon || box->windowTitle() != title || box->text() != text)
            mismatch += QString("expected box \"%1\" / \"%2\", saw \"%3\" / \"%4\"\n")
                            .arg(title, text, box->windowTitle(), box->text());
        QAbstractButton* button = box->button(QMessageBox::Ok);
        (button ? button : box->button(QMessageBox::Yes))->click();
    });
}

void ModalScript::poll()
{
    if (done()) {
        timer.stop();
        return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (deadline.hasExpired()) {
        const QString stuck =
            QString("step %2 of %3 found no %1 ready; the active modal window is %4")
                .arg(steps[next].type->className())
                .arg(next + 1)
                .arg(steps.size())
                .arg(describeModal(modal));
        // Inside a modal window's loop the test never gets control back to fail on its own.
        if (QThread::currentThread()->loopLevel() > 0)
            qFatal("modal script: %s", qPrintable(stuck));
        mismatch += stuck;
        timer.stop();
        return;
    }
    if (!pending && isReady(modal)) {
        pending = true;
        QTimer::singleShot(0, this, [this, target = QPointer<QWidget>(modal)] { act(target); });
    }
}

bool ModalScript::isReady(QWidget* modal) const
{
    const Step& step = steps[next];
    return modal && modal->isVisible() && modal->isEnabled() &&
           modal->metaObject()->inherits(step.type) && step.ready(modal);
}

// Checked again: a command sent meanwhile (the room list refreshes on its own) disables the
// window, and a click on it would be lost.
void ModalScript::act(QWidget* modal)
{
    pending = false;
    if (!isReady(modal))
        return;
    const std::function<void(QWidget*)> action = steps[next++].act;
    action(modal);
}

bool ModalScript::finish()
{
    return QTest::qWaitFor([this] { return done(); }, int(deadline.remainingTime()));
}
