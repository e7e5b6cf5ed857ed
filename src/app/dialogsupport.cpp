// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/dialogsupport.h"

#include "app/globals.h"

#include <QCloseEvent>
#include <QMessageBox>

void FeatureMessages::warning(const QString& text) const
{
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
}

void FeatureMessages::information(const QString& text) const
{
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
}

bool acceptResult(quint32 result, const RefusalTexts& refusals, const FeatureMessages& messages)
{
    if (result == 0)
        return true;
    const auto refusal = refusals.constFind(result);
    if (refusal == refusals.constEnd())
        fatalError("プロトコル異常");
    messages.warning(*refusal);
    return false;
}

void closeAsCancel(QCloseEvent* event, const std::function<void()>& cancel)
{
    event->ignore();
    cancel();
}

void closeAsCancelWhenIdle(QCloseEvent* event, const QWidget* dialog,
                           const std::function<void()>& cancel)
{
    if (dialog->isEnabled()) {
        closeAsCancel(event, cancel);
        return;
    }
    event->ignore();
}
