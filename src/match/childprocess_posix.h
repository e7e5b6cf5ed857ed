// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// POSIX details of the process runner that callers other than the runner itself may need.

#include "match/childprocess_native.h"

#include <string>
#include <vector>

#include <sys/types.h>

// Splits a command line into an argument vector the way a Windows program's C runtime does, so
// that programs written for that command line see the same words here: blanks (space, tab)
// separate words, double quotes group blanks into a word and may start an empty one, and
// backslashes count only before a double quote, where 2n of them give n backslashes and the quote
// toggles grouping, and 2n+1 give n backslashes and a literal quote. A quote always toggles, so
// "" inside a quoted stretch closes and reopens it. A blank command line gives no words.
std::vector<std::string> splitCommandLine(const char* commandLine);

// The id of the started program while it has not been reaped, else -1.
pid_t childProcessId(const ChildProcess* process);
