// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Limits of the lobby's text fields, the same for the client's input checks and the server's
// request checks. Byte limits count the NUL that ends the field on the wire: a text fits when its
// UTF-8 form is shorter than the limit.
namespace TextLimit
{
constexpr int account = 72;
constexpr int password = 72;
constexpr int registrationMail = 192;
constexpr int registrationKey = 96;
constexpr int handleName = 120;
constexpr int mail = 216;
constexpr int roomTitle = 144;
constexpr int roomPassword = 36;
constexpr int globalMessage = 288;
// In characters (UTF-16 units, as QString counts them).
constexpr int roomPasswordChars = 8;
constexpr int speakChars = 128;
} // namespace TextLimit

// True when the UTF-8 form of text and its NUL fit in limit bytes.
bool checkUtf8Length(const QString& text, int limit);

// A room password the server keeps whole: a longer one could never open its room.
bool roomPasswordFits(const QString& password);
