#include "passwords.h"

#include <QRandomGenerator>

#include <openssl/evp.h>

constexpr int saltBytes = 16;
constexpr int hashBytes = 32;

// OpenSSL's PBKDF2 runs several times faster than Qt's on the same machine, and the check's cost
// bounds how many logins the server can take a second. An empty result fails every comparison.
static QByteArray derive(const QString& password, const QByteArray& salt, int iterations)
{
    const QByteArray secret = password.toUtf8();
    QByteArray key(hashBytes, Qt::Uninitialized);
    const auto* saltData = reinterpret_cast<const unsigned char*>(salt.constData());
    if (PKCS5_PBKDF2_HMAC(secret.constData(), int(secret.size()), saltData, int(salt.size()),
                          iterations, EVP_sha256(), hashBytes,
                          reinterpret_cast<unsigned char*>(key.data())) != 1)
        return {};
    return key;
}

StoredPassword hashPassword(const QString& password, int iterations)
{
    StoredPassword stored;
    stored.salt.resize(saltBytes);
    QRandomGenerator::system()->generate(stored.salt.begin(), stored.salt.end());
    stored.iterations = iterations;
    stored.hash = derive(password, stored.salt, iterations);
    return stored;
}

bool passwordMatches(const QString& password, const StoredPassword& stored)
{
    if (stored.iterations <= 0 || stored.hash.isEmpty())
        return false;
    const QByteArray computed = derive(password, stored.salt, stored.iterations);
    // Compare every byte, so the time taken says nothing about where they differ.
    if (computed.size() != stored.hash.size())
        return false;
    char difference = 0;
    for (qsizetype i = 0; i < computed.size(); ++i)
        difference |= computed[i] ^ stored.hash[i];
    return difference == 0;
}

QString randomText(int length)
{
    static const char alphabet[] = "abcdefghjkmnpqrstuvwxyz23456789";
    QString text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text.append(QChar(alphabet[QRandomGenerator::system()->bounded(int(sizeof alphabet) - 1)]));
    return text;
}

PasswordJobResult runPasswordJob(const PasswordJob& job)
{
    PasswordJobResult result;
    if (job.verify)
        result.matched = passwordMatches(job.candidate, job.stored);
    if (result.matched && !job.replacement.isEmpty())
        result.fresh = hashPassword(job.replacement, job.iterations);
    return result;
}
