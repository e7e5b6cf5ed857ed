// SPDX-License-Identifier: GPL-3.0-or-later
#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>

#include <cstdio>

ModalAnswerer::ModalAnswerer(std::function<void(QWidget*)> beforeAnswer)
    : beforeAnswer(std::move(beforeAnswer))
{
    qApp->installEventFilter(this);
}

bool ModalAnswerer::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Show || !watched->isWidgetType())
        return false;
    auto* window = static_cast<QWidget*>(watched);
    if (window->isWindow() && window->isModal())
        QMetaObject::invokeMethod(
            this, [this, shown = QPointer<QWidget>(window)] { answer(shown); },
            Qt::QueuedConnection);
    return false;
}

void ModalAnswerer::answer(const QPointer<QWidget>& window)
{
    if (!window || !window->isVisible())
        return;
    if (closing) {
        closeAll();
        return;
    }
    if (beforeAnswer)
        beforeAnswer(window);
    if (!window || !window->isVisible())
        return;
    const auto* box = qobject_cast<QMessageBox*>(window.data());
    if (box && !box->buttons().isEmpty()) {
        box->buttons().first()->click();
        return;
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

std::unique_ptr<ModalAnswerer> answerEveryModalWindow(std::function<void(QWidget*)> beforeAnswer)
{
    return std::make_unique<ModalAnswerer>([beforeAnswer](QWidget* window) {
        if (const auto* box = qobject_cast<QMessageBox*>(window))
            std::fprintf(stderr, "[box] %s | %s\n", qPrintable(box->windowTitle()),
                         qPrintable(box->text()));
        else
            std::fprintf(stderr, "[dialog] %s\n", window->metaObject()->className());
        if (beforeAnswer)
            beforeAnswer(window);
    });
}
