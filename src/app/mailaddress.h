// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The client's only test of a mail address: an at sign and a full stop somewhere, in either
// order. Whether the address really exists is for the server and the mail to find out.
bool looksLikeMailAddress(const QString& address);
