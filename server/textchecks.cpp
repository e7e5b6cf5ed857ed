#include "textchecks.h"

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
