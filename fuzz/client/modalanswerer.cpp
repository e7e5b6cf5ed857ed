#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>

void ModalAnswerer::windowShown(QWidget* window)
{
    if (!window->isWindow() || !window->isModal())
        return;
    QMetaObject::invokeMethod(
        this, [this, shown = QPointer<QWidget>(window)] { answer(shown); }, Qt::QueuedConnection);
}

void ModalAnswerer::answer(const QPointer<QWidget>& window)
{
    if (!window || !window->isVisible())
        return;
    if (closing) {
        closeAll();
        return;
    }
    if (auto* box = qobject_cast<QMessageBox*>(window.data())) {
        const QList<QAbstractButton*> buttons = box->buttons();
        if (!buttons.isEmpty()) {
            buttons.first()->click();
            return;
        }
    }
    if (auto* dialog = qobject_cast<QDialog*>(window.data()))
        dialog->reject();
    else
        window->hide();
}

void ModalAnswerer::closeAll()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        windows.append(window);
    // A closed dialog may take others with it.
    for (const QPointer<QWidget>& window : std::as_const(windows)) {
        if (!window || !window->isVisible() || !window->isModal())
            continue;
        if (auto* dialog = qobject_cast<QDialog*>(window.data()))
            dialog->done(QDialog::Rejected);
        else
            window->hide();
    }
}
