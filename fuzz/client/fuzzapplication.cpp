// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzzapplication.h"

namespace
{
// The events that bring the client something new: time and the server's bytes. Its queued calls
// still run once it has ended, as they do in the event loop of the fatal error's box, and take
// what they were handed along; child, layout, show and deletion events keep Qt's own state right.
bool bringsNews(const QEvent* event)
{
    switch (event->type()) {
    case QEvent::Timer:
    case QEvent::SockAct:
    case QEvent::SockClose:
        return true;
    default:
        return false;
    }
}

// Drawing the offscreen windows would take most of each input's time. The client draws nothing
// of its own: only Qt's stock widgets would paint.
bool isDrawing(const QObject* receiver, const QEvent* event)
{
    switch (event->type()) {
    case QEvent::Paint:
    case QEvent::UpdateRequest:
    case QEvent::Expose:
        return receiver->isWidgetType() || receiver->isWindowType();
    default:
        return false;
    }
}
} // namespace

FuzzApplication::FuzzApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool FuzzApplication::notify(QObject* receiver, QEvent* event)
{
    if (isDrawing(receiver, event) || (!delivering && receiver != &answerer && bringsNews(event)))
        return true;
    ++delivered;
    try {
        return QApplication::notify(receiver, event);
    } catch (const ClientExit& exit) {
        clientEnded(exit);
        return true;
    }
}

void FuzzApplication::startSession()
{
    ending.reset();
    delivering = true;
    answerer.setClosing(false);
}

void FuzzApplication::clientEnded(const ClientExit& exit)
{
    if (!ending)
        ending = exit;
    delivering = false;
    answerer.setClosing(true);
    answerer.closeAll();
}
