#pragma once

#include "textlimits.h"

#include <QString>

// What the client accepts as a mail address ('@' and '.' anywhere), minus control characters,
// which would break the headers of the mail written for it.
bool isUsableMail(const QString& mail);
bool hasControlCharacters(const QString& text);
