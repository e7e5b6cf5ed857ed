#pragma once

#include <QString>

// Outgoing mail. This server sends none itself: every message is written, whole and
// atomically, as one RFC 5322 file in the outbox folder for a mail transfer agent (or a person)
// to pick up, and noted in the log.
class Outbox
{
  public:
    Outbox(const QString& folder, const QString& from);

    bool send(const QString& to, const QString& subject, const QString& body);

  private:
    const QString folder;
    const QString from;
};
