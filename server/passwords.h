#pragma once

#include "store.h"

#include <QString>

// PBKDF2-SHA256 with a fresh random salt per password.
StoredPassword hashPassword(const QString& password, int iterations);
bool passwordMatches(const QString& password, const StoredPassword& stored);

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
