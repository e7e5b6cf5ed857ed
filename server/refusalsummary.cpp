// SPDX-License-Identifier: GPL-3.0-or-later
#include "refusalsummary.h"

#include <QRegularExpression>

QString RefusalSummary::kindOf(const QString& refusal)
{
    static const QRegularExpression numbers("[0-9]+");
    const qsizetype first = refusal.indexOf(QLatin1String(": "));
    const qsizetype second = first < 0 ? -1 : refusal.indexOf(QLatin1String(": "), first + 2);
    return refusal.left(second).replace(numbers, "#");
}

bool RefusalSummary::count(const QString& kind)
{
    const auto found = kinds.find(kind);
    if (found == kinds.end()) {
        kinds.insert(kind, 0);
        return true;
    }
    ++*found;
    return false;
}

QStringList RefusalSummary::flush()
{
    QStringList lines;
    for (auto kind = kinds.cbegin(); kind != kinds.cend(); ++kind) {
        if (kind.value() > 0)
            lines << QString("%1 more refusals of \"%2\"").arg(kind.value()).arg(kind.key());
    }
    kinds.clear();
    return lines;
}
