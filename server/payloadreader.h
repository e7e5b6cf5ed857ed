#pragma once

#include <QByteArrayView>
#include <QString>

// A request that breaks the protocol. Handlers read every field before they change anything,
// so the dispatcher can drop the request and close its connection when this is thrown.
struct BadRequest {
    QString reason;
};

// Reads the fields of one request payload: u32 little-endian and NUL-terminated UTF-8. Every
// read is bounded by the payload; a field past its end throws BadRequest.
class PayloadReader
{
  public:
    explicit PayloadReader(QByteArrayView payload) : data(payload) {}

    quint32 u32(const char* field);
    // A string whose UTF-8 form must be shorter than limit bytes and valid UTF-8.
    QString text(const char* field, int limit);

  private:
    QByteArrayView data;
    qsizetype position = 0;
};
