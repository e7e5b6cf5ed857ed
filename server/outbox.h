// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Outgoing mail. This server sends none itself: every message is written, whole, atomically and
// synced to the disk, as one RFC 5322 file in the outbox folder for a mail transfer agent (or a
// person) to pick up, and noted in the log.
class Outbox
{
  public:
    Outbox(const QString& folder, const QString& from);

    // Whether a mail can be written at all, checked at the start rather than at the first
    // registration; else error says why.
    bool check(QString& error) const;
    // True only once the mail lies in the folder, complete and synced; else the log says why.
    bool send(const QString& to, const QString& subject, const QString& body);

  private:
    const QString folder;
    const QString from;
};
