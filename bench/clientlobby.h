// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "locallobbyserver.h"

#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QVector>

// A lobby server in a folder of its own, and the environment under which a client logs in to it
// with the first of its accounts, reading its settings from that folder and never the user's.
class ClientLobby
{
  public:
    ClientLobby();

    // Writes the configuration, creates the accounts and starts the server; false after saying
    // why on stderr.
    bool start(const QByteArray& serverConfig, const QVector<LobbyAccount>& accounts);
    LocalLobbyServer& server() { return lobby; }
    QProcessEnvironment clientEnvironment() const { return environment; }

  private:
    QTemporaryDir folder;
    LocalLobbyServer lobby;
    QProcessEnvironment environment;
};

// The client as main() runs it, with a hand that enters the listed rooms one after the other and
// says "rooms open" on stdout once roomsToOpen are: for figures of a client in its rooms.
int driveClient(int argc, char** argv, int roomsToOpen);
