// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLocalServer>
#include <QStringList>

#include <functional>

// The operators' way into the running server from the same machine: a local socket that only
// its owner may open (mode 0600). A connection sends one command, its words separated by tabs
// and ended by a newline; the answer is "ok" or "error: WHY", then the command's lines, then
// the close.
class ControlSocket : public QObject
{
    Q_OBJECT

  public:
    // The lines of a command's answer, or one line starting with "error: ".
    using Answer = std::function<void(const QStringList& lines)>;
    // Runs a command of the operator (the peer's user name) and answers it, now or later.
    using Handler = std::function<void(const QString& operatorName, const QStringList& words,
                                       const Answer& answer)>;

    explicit ControlSocket(Handler handler);
    bool listen(const QString& path, QString& error);

  private:
    void serve(QLocalSocket* client);

    Handler handler;
    QLocalServer server;
};

// Where the control socket lies: $RUNTIME_DIRECTORY (systemd's RuntimeDirectory=), else the
// data folder.
QString controlSocketPath(const QString& dataFolder);

// The subcommand's side: sends the words to the running server and prints its answer; the exit
// code is 0 when it said "ok".
int runControlCommand(const QString& dataFolder, const QStringList& words);
