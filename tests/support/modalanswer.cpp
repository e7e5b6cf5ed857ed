// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/modalanswer.h"

#include <QMetaEnum>

QString boxText(QMessageBox::Icon icon, const QString& title, const QString& text)
{
    return QString("%1 %2: %3")
        .arg(QMetaEnum::fromType<QMessageBox::Icon>().valueToKey(icon), title, text);
}

// A modal window's class and title, or a message box as boxText names it.
static QString describeModal(const QWidget* modal)
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
