// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>

#include <functional>

class QCloseEvent;
class QWidget;

// The message boxes of one feature: they share a fixed title, carry one Ok button and sit over
// the window that shows them.
class FeatureMessages
{
  public:
    FeatureMessages(QWidget* parent, const QString& title) : parent(parent), title(title) {}

    void warning(const QString& text) const;
    void information(const QString& text) const;

  private:
    QWidget* parent;
    QString title;
};

// Refusal texts by result code, for replies whose form knows every code the server may answer.
using RefusalTexts = QHash<quint32, QString>;

// True for result 0. A listed refusal is shown as a warning; any other code means client and
// server disagree on the protocol, and the program ends.
bool acceptResult(quint32 result, const RefusalTexts& refusals, const FeatureMessages& messages);

// The title-bar button never closes these dialogs by itself: it stands for their Cancel.
void closeAsCancel(QCloseEvent* event, const std::function<void()>& cancel);

// The same for dialogs that send commands: while their own command is out they are disabled, and
// leaving then would strand the reply, so the button does nothing.
void closeAsCancelWhenIdle(QCloseEvent* event, const QWidget* dialog,
                           const std::function<void()>& cancel);
