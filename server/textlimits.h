#pragma once

#include <QString>

// Byte limits of the client's text fields. A text fits when its UTF-8 form is shorter than the
// limit, which leaves one byte of it for the NUL, exactly as the client tests its input.
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
} // namespace TextLimit

// Further limits the client applies in characters (UTF-16 units, as QString counts them).
constexpr int roomPasswordMaxChars = 8;
constexpr int speakMaxChars = 128;

bool fitsLimit(const QString& text, int limit);
// What the client accepts as a mail address ('@' and '.' anywhere), minus control characters,
// which would break the headers of the mail written for it.
bool isUsableMail(const QString& mail);
bool hasControlCharacters(const QString& text);
