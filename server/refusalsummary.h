// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Keeps repeated refusals from flooding the log: the first refusal of each kind goes to the log
// in full; later ones of the same kind are only counted until flush(), which sums them up.
class RefusalSummary
{
  public:
    // The kind of a refusal text: up to its second ": ", numbers made "#", so that "chat line in
    // room 3: rate limit" and "chat line in room 4: rate limit" are one kind, while a name or a
    // mail address after them does not make a kind of its own.
    static QString kindOf(const QString& refusal);

    // Counts the refusal; true when it is the first of its kind since the last flush.
    bool count(const QString& kind);
    bool isEmpty() const { return kinds.isEmpty(); }
    // "N more refusals of KIND" for each kind refused again since the last flush; then starts
    // over.
    QStringList flush();

  private:
    QHash<QString, int> kinds; // kind -> refusals after the first
};
