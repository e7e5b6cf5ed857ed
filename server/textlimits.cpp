#include "textlimits.h"

bool fitsLimit(const QString& text, int limit)
{
    return text.toUtf8().size() < limit;
}

bool hasControlCharacters(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

bool isUsableMail(const QString& mail)
{
    return mail.contains('@') && mail.contains('.') && !hasControlCharacters(mail);
}
