// SPDX-License-Identifier: GPL-3.0-or-later
#include "metrics.h"

#include <QRegularExpression>

QString refusalKind(const QString& refusal)
{
    static const QRegularExpression numbers("[0-9]+");
    return refusal.left(refusal.indexOf(QLatin1String(": "))).replace(numbers, "#");
}

void Metrics::countRefusal(const QString& what)
{
    ++refusals;
    ++refusalsByKind[refusalKind(what)];
}
