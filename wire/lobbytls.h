// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QSslSocket;

// Readies socket to reach a lobby over TLS as every client of this project does: TLS 1.2 at
// least, the server's certificate checked against the system's trust store or, for a private
// lobby, against the CA certificates in caFile alone, and its host name checked by Qt on
// connectToHostEncrypted. False, with error, when caFile holds no certificate.
bool prepareLobbyTls(QSslSocket& socket, const QString& caFile, QString& error);
