// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSslConfiguration>
#include <QString>

#include <optional>

// The server's side of TLS: its certificate chain and key from PEM files, TLS 1.2 at least, and
// no certificate asked of the clients (players log in with their passwords inside the tunnel).
// Nothing when a file cannot be read or holds no usable certificate or key; error says which.
std::optional<QSslConfiguration> loadTlsIdentity(const QString& certificateFile,
                                                 const QString& keyFile, QString& error);
