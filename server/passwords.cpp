#include "passwords.h"

#include <QPasswordDigestor>
#include <QRandomGenerator>

constexpr int saltBytes = 16;
constexpr int hashBytes = 32;

static QByteArray derive(const QString& password, const QByteArray& salt, int iterations)
{
    return QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha256, password.toUtf8(), salt,
                                              iterations, hashBytes);
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
