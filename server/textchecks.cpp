// SPDX-License-Identifier: GPL-3.0-or-later
#include "textchecks.h"

#include <QList>

#include <algorithm>

bool isControlCharacter(char16_t u)
{
    return u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029;
}

bool hasControlCharacters(const QString& text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return isControlCharacter(c.unicode()); });
}

static bool isDomainLabel(QStringView label)
{
    if (label.isEmpty() || label.startsWith('-') || label.endsWith('-'))
        return false;
    for (QChar c : label) {
        if (!c.isLetterOrNumber() && c != '-')
            return false;
    }
    return true;
}

bool isUsableMail(const QString& mail)
{
    if (hasControlCharacters(mail))
        return false;
    const qsizetype at = mail.indexOf('@');
    const QStringView local = QStringView(mail).left(at);
    const QStringView domain = QStringView(mail).mid(at + 1);
    if (at <= 0 || domain.contains('@') || local.startsWith('.') || local.endsWith('.') ||
        local.contains(QLatin1String("..")))
        return false;
    for (QChar c : local) {
        if (c.isSpace() || QStringView(u"<>,;\"()[]\\:").contains(c))
            return false;
    }
    const QList<QStringView> labels = domain.split('.');
    if (labels.size() < 2)
        return false;
    for (QStringView label : labels) {
        if (!isDomainLabel(label))
            return false;
    }
    return true;
}
