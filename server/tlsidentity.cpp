// SPDX-License-Identifier: GPL-3.0-or-later
#include "tlsidentity.h"

#include <QFile>
#include <QSslCertificate>
#include <QSslKey>

namespace
{
QByteArray readPem(const QString& path, QString& error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QString("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    return file.readAll();
}

// Keys come as RSA, EC or Ed25519; the PEM header alone does not say which for PKCS#8 files.
QSslKey readKey(const QByteArray& pem)
{
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa, QSsl::Opaque}) {
        const QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            return key;
    }
    return {};
}
} // namespace

std::optional<QSslConfiguration> loadTlsIdentity(const QString& certificateFile,
                                                 const QString& keyFile, QString& error)
{
    const QByteArray certificatePem = readPem(certificateFile, error);
    const QByteArray keyPem = error.isEmpty() ? readPem(keyFile, error) : QByteArray();
    if (!error.isEmpty())
        return std::nullopt;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificatePem, QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull()) {
        error = "no PEM certificate in " + certificateFile;
        return std::nullopt;
    }
    const QSslKey key = readKey(keyPem);
    if (key.isNull()) {
        error =
            "no PEM private key in " + keyFile + " (an encrypted key needs its passphrase removed)";
        return std::nullopt;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return configuration;
}
