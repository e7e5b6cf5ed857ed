// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAbstractSocket>
#include <QObject>

class FuzzApplication;
class ProtocolSocket;
class QTcpSocket;

// Stands between the client's QTcpSocket and its ProtocolSocket. The socket's signals come from
// inside Qt's network library, which is built without exceptions: the client's end must be caught
// before the unwind reaches that library's frames, or their clean-up is skipped. Each signal goes
// on to the slot it was connected to, at the same moment; none once the client has ended.
class ConnectionRelay : public QObject
{
  public:
    ConnectionRelay(FuzzApplication& app, ProtocolSocket* client, QTcpSocket* socket);

  private:
    template <class... Arguments> void pass(const char* slot, Arguments... arguments);

    FuzzApplication& app;
    ProtocolSocket* client;
};
