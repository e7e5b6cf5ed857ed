// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "textlimits.h"

#include <QString>

// One mail address and nothing else: a local part and a dot-separated domain, without the
// characters that end an address or start another in a header (<>,;"() and spaces), and
// without controls, which would break the headers of the mail written for it.
bool isUsableMail(const QString& mail);
// C0 and C1 controls, DEL, and the Unicode line and paragraph separators: none of them belongs
// in a name, an address or a line of the log.
bool hasControlCharacters(const QString& text);
bool isControlCharacter(char16_t u);
