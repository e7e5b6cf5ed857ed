#include "support/modalanswer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMetaEnum>
#include <QPointer>
#include <QTest>

QString boxText(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    return QString("%1 %2: %3")
        .arg(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(icon), title, text);
}

QString describeModal(const QWidget* modal)
{
    if (const auto* box = qobject_cast<const QMessageBox*>(modal))
        return boxText(box->icon(), box->windowTitle(), box->text());
    return modal ? QString("%1 \"%2\"").arg(modal->metaObject()->className(), modal->windowTitle())
                 : "none";
}

Modals::Modals(std::function<void(QWidget*)> act)
    : answerer([this, act](QWidget* modal) {
          seen << describeModal(modal);
          if (act)
              act(modal);
      })
{
}

ModalScript::ModalScript()
{
    QObject::connect(&poll, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (pending || !isReady(modal))
            return;
        pending = true;
        // Checked again: a command sent meanwhile (the room list refreshes on its own) disables
        // the window, and a click on it would be lost.
        QTimer::singleShot(0, &poll, [this, target = QPointer<QWidget>(modal)] {
            pending = false;
            if (isReady(target))
                steps[next++].act(target);
        });
    });
    poll.start(10);
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
