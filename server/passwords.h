// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "store.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <functional>

// PBKDF2-SHA256 with a fresh random salt per password.
StoredPassword hashPassword(const QString& password, int iterations);
bool passwordMatches(const QString& password, const StoredPassword& stored);
// A stored password that no password matches, yet costs a check of those iterations: the
// check of an unknown account takes as long as that of a known one.
StoredPassword unmatchablePassword(int iterations);
// Key derivations run so far by this process, in any thread.
quint64 passwordDerivations();

// Random text from an alphabet without look-alike characters, for keys, generated account
// names and passwords that people copy from a mail.
QString randomText(int length);

// The slow part of a command that checks or sets a password, run off the event loop.
struct PasswordJob {
    bool verify = false;
    QString candidate;
    StoredPassword stored;
    QString replacement;
    int iterations = 0;
};

struct PasswordJobResult {
    bool matched = true;
    StoredPassword fresh;
};

// Checks the candidate when asked to, and hashes the replacement (if any) when it matched.
PasswordJobResult runPasswordJob(const PasswordJob& job);

// Password jobs waiting for a thread, shared out by key (the client's address): the keys take
// turns, so one key's jobs wait behind at most one job of each other key, and keys that failed
// logins lately wait behind all the others and leave one thread to them, so that a user's
// login waits for no guesser's check. Both the queue and each key hold only a few jobs, and a
// job beyond them is refused at once instead of making everyone wait longer.
class PasswordQueue : public QObject
{
    Q_OBJECT

  public:
    struct Limits {
        int threads = 0; // 0: one per core
        int waiting = 128;
        int perKey = 3; // waiting or running
    };
    using Done = std::function<void(const PasswordJobResult&)>;

    explicit PasswordQueue(const Limits& limits);
    ~PasswordQueue() override;

    // Queues the job; done is called on this object's thread once the job has run. False, and
    // nothing queued, when the key or the queue is full; suspect keys may fill only half of it,
    // so that the others still find room.
    bool submit(const QString& key, bool suspect, const PasswordJob& job, Done done);
    int jobs() const { return waiting[0].count + waiting[1].count + running; }
    int runningJobs() const { return running; }
    // Runs the jobs to the end, those still waiting too, and calls their done.
    void finishAll();

  private:
    struct Queued {
        PasswordJob job;
        Done done;
    };
    // Keys in the order of their turns, and each key's jobs in the order they came.
    struct Tier {
        QList<QString> turns;
        QHash<QString, QList<Queued>> jobs;
        int count = 0;
    };

    void startNext();
    void finish(const QString& key, bool suspect, const Done& done,
                const PasswordJobResult& result);

    const Limits limits;
    const int threads;
    Tier waiting[2]; // keys without failed logins lately, then the suspect ones
    QHash<QString, int> perKey;
    int running = 0;
    int runningSuspects = 0;
    // Last member: destroyed first, so it waits for the running jobs while the rest is intact.
    QThreadPool pool;
};
