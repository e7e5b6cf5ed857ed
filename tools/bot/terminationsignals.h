// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal on the event loop, through a socket pair that the
// signal handler writes to (the only safe thing it can do).
class TerminationSignals : public QObject
{
    Q_OBJECT

  public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

  signals:
    void received();

  private:
    QSocketNotifier* notifier = nullptr;
};
