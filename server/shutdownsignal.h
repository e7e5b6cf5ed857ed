// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT (shut down) and SIGHUP (reload the configuration) into a Qt signal
// on the event loop (the handler only writes one byte into a pipe that the loop watches).
class ShutdownSignal : public QObject
{
    Q_OBJECT

  public:
    ShutdownSignal();
    ~ShutdownSignal() override;

  signals:
    void received(int signalNumber);

  private:
    QSocketNotifier* notifier = nullptr;
};
