// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clientexit.h"
#include "support/modalanswerer.h"

#include <QApplication>

#include <optional>

// The harness's application. Every event the client gets passes through notify(), the innermost
// frame the harness owns, and the client's end is caught there: Qt's GUI and network libraries
// are built without exceptions, so an unwind through them would skip their clean-up (a message
// box's nested event loop, for one, would outlive its frame). Once the client has ended, its
// modal windows are closed and neither time nor bytes reach it any more, so that the event loops
// it still runs return and the harness gets control back.
class FuzzApplication : public QApplication
{
  public:
    FuzzApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Starts delivering events to a fresh client.
    void startSession();
    // Records the client's end; the first one of a session is kept.
    void clientEnded(const ClientExit& exit);
    const std::optional<ClientExit>& clientExit() const { return ending; }
    // Stops passing time and bytes to the client while it is torn down.
    void stopDelivering() { delivering = false; }

    // Events delivered so far; an event loop pass that adds none was a quiet one.
    quint64 deliveredEvents() const { return delivered; }

  private:
    ModalAnswerer answerer;
    std::optional<ClientExit> ending;
    bool delivering = true;
    quint64 delivered = 0;
};
