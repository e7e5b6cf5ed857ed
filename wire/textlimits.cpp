// SPDX-License-Identifier: GPL-3.0-or-later
#include "textlimits.h"

bool checkUtf8Length(const QString& text, int limit)
{
    return text.toUtf8().size() < limit;
}

bool roomPasswordFits(const QString& password)
{
    return password.size() <= TextLimit::roomPasswordChars &&
           checkUtf8Length(password, TextLimit::roomPassword);
}
