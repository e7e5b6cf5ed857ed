#pragma once

#include "protocol/protocolsocket.h"

#include <QString>

// What the server keeps of a room's password: eight characters, in 36 bytes with the NUL. A
// longer one could never open the room, and a pasted one could overflow the request.
inline bool roomPasswordFits(const QString& password)
{
    return password.size() <= 8 && checkUtf8Length(password, 36);
}
