#include "app/mailaddress.h"

bool looksLikeMailAddress(const QString& address)
{
    return address.contains('@') && address.contains('.');
}
