// SPDX-License-Identifier: GPL-3.0-or-later
#include "passwords.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <openssl/evp.h>

#include <atomic>

constexpr int saltBytes = 16;
constexpr int hashBytes = 32;

static std::atomic<quint64> derivations{0};

// OpenSSL's PBKDF2 runs several times faster than Qt's on the same machine, and the check's cost
// bounds how many logins the server can take a second. An empty result fails every comparison.
static QByteArray derive(const QString& password, const QByteArray& salt, int iterations)
{
    ++derivations;
    const QByteArray secret = password.toUtf8();
    QByteArray key(hashBytes, Qt::Uninitialized);
    const auto* saltData = reinterpret_cast<const unsigned char*>(salt.constData());
    if (PKCS5_PBKDF2_HMAC(secret.constData(), int(secret.size()), saltData, int(salt.size()),
                          iterations, EVP_sha256(), hashBytes,
                          reinterpret_cast<unsigned char*>(key.data())) != 1)
        return {};
    return key;
}

static QByteArray randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes;
}

StoredPassword hashPassword(const QString& password, int iterations)
{
    StoredPassword stored;
    stored.salt = randomBytes(saltBytes);
    stored.iterations = iterations;
    stored.hash = derive(password, stored.salt, iterations);
    return stored;
}

StoredPassword unmatchablePassword(int iterations)
{
    // A random hash that no derivation is known to give.
    return {randomBytes(hashBytes), randomBytes(saltBytes), iterations};
}

quint64 passwordDerivations()
{
    return derivations;
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

PasswordQueue::PasswordQueue(const Limits& limits)
    : limits(limits),
      threads(limits.threads > 0 ? limits.threads : qMax(1, QThread::idealThreadCount()))
{
    pool.setMaxThreadCount(threads);
}

PasswordQueue::~PasswordQueue()
{
    pool.waitForDone();
}

bool PasswordQueue::submit(const QString& key, bool suspect, const PasswordJob& job, Done done)
{
    Tier& tier = waiting[suspect ? 1 : 0];
    const int room = suspect ? (limits.waiting + 1) / 2 : limits.waiting;
    if (perKey.value(key) >= limits.perKey ||
        waiting[0].count + waiting[1].count >= limits.waiting || tier.count >= room)
        return false;
    ++perKey[key];
    QList<Queued>& jobs = tier.jobs[key];
    if (jobs.isEmpty())
        tier.turns.append(key);
    jobs.append({job, std::move(done)});
    ++tier.count;
    startNext();
    return true;
}

void PasswordQueue::startNext()
{
    while (running < threads) {
        const bool suspect = waiting[0].turns.isEmpty();
        Tier& tier = waiting[suspect ? 1 : 0];
        if (tier.turns.isEmpty() || (suspect && runningSuspects >= qMax(1, threads - 1)))
            return;
        const QString key = tier.turns.takeFirst();
        QList<Queued>& jobs = tier.jobs[key];
        const Queued next = jobs.takeFirst();
        if (jobs.isEmpty())
            tier.jobs.remove(key);
        else
            tier.turns.append(key);
        --tier.count;
        ++running;
        runningSuspects += suspect;
        pool.start([this, key, suspect, next] {
            const PasswordJobResult result = runPasswordJob(next.job);
            QMetaObject::invokeMethod(
                this,
                [this, key, suspect, done = next.done, result] {
                    finish(key, suspect, done, result);
                },
                Qt::QueuedConnection);
        });
    }
}

void PasswordQueue::finish(const QString& key, bool suspect, const Done& done,
                           const PasswordJobResult& result)
{
    --running;
    runningSuspects -= suspect;
    if (--perKey[key] <= 0)
        perKey.remove(key);
    startNext();
    done(result);
}

void PasswordQueue::finishAll()
{
    while (jobs() > 0) {
        pool.waitForDone();
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
}
