#pragma once

#include "protocol/protocolsocket.h"

#include <QString>
#include <QWidget>

// Sends a match request as a command whose reply goes to replySlot of dialog, once the
// connection is free: a walk of the room list leaves the dialogs enabled. The window that owns the
// dialog is disabled while the command is out, and every dialog it owns with it.
template <class Request>
void sendMatchCommand(ProtocolSocket* socket, QWidget* dialog, const char* replySlot,
                      const Request& request)
{
    socket->whenIdle(dialog, [=] {
        socket->beginCommand(dialog, replySlot, dialog->parentWidget(), SLOT(setEnabled(bool)));
        socket->write(request);
        socket->sendCommand();
    });
}

// Reads the one result of a match request's reply and ends the command.
quint32 readMatchResult(ProtocolSocket* socket);

// An information box over dialog with one Ok button. It does not wait to be answered: the main
// window may delete the dialog at any time, as the server's events come, and the box goes with it.
void showMatchInformation(QWidget* dialog, const QString& title, const QString& text);

// "参加状況(count / max人)", as the application and waiting dialogs show it.
QString participationText(quint32 count, quint32 maxPlayers);
