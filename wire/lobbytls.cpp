// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobbytls.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

bool prepareLobbyTls(QSslSocket& socket, const QString& caFile, QString& error)
{
    QSslConfiguration configuration = socket.sslConfiguration();
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!caFile.isEmpty()) {
        const QList<QSslCertificate> authorities = QSslCertificate::fromPath(caFile);
        if (authorities.isEmpty()) {
            error = "no PEM certificate in " + caFile;
            return false;
        }
        configuration.setCaCertificates(authorities);
    }
    socket.setSslConfiguration(configuration);
    return true;
}
