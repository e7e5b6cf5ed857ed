// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The client's own end of the process, thrown where the program would exit, so that the harness
// gets control back and can start the next input with a fresh window.
struct ClientExit {
    int code;
    // Empty for an exit that is no fatal error (the server's close notices).
    QString message;
};

// The harness's frame below every frame of the client, for the leak check (see clientexit.cpp).
void setClientStackBase(const void* base);
