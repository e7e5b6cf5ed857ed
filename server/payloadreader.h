#pragma once

#include "wirefields.h"

#include <QByteArrayView>
#include <QString>

// A request that breaks the protocol. Handlers read every field before they change anything,
// so the dispatcher can drop the request and close its connection when this is thrown.
struct BadRequest {
    QString reason;
};

// Reads the fields of one request payload and throws BadRequest at the first field that runs
// past its end, is too long or is not valid UTF-8, naming the field for the log.
class PayloadReader
{
  public:
    explicit PayloadReader(QByteArrayView payload) : fields(payload) {}

    quint32 u32(const char* field);
    // A string whose UTF-8 form must be shorter than limit bytes and valid UTF-8.
    QString text(const char* field, int limit);

  private:
    FieldReader fields;
};
