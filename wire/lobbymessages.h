#pragma once

#include "wirefields.h"

// The layouts that more than one program reads or writes. read() takes the fields that follow a
// packet's type byte (and a notification's kind); frame() and the frame functions write a whole
// frame.

// A room event, the fields of a NotifyRoomEvent. The text stays the packet's undecoded bytes: a
// reader that keeps the event past its packet takes text().
struct RoomEventFields {
    quint32 eventKind = 0;
    quint32 roomId = 0;
    quint32 userId = 0;
    quint32 otherId = 0;
    quint32 value = 0;
    quint32 reserved = 0;
    QByteArrayView utf8Text;

    QString text() const { return QString::fromUtf8(utf8Text); }
    static RoomEventFields read(FieldReader& in);
};

QByteArray roomEventFrame(quint32 eventKind, quint32 roomId, quint32 userId, quint32 otherId,
                          quint32 value, QStringView text = {});

// The answer to GetRoomInfo. A number without a room has status 1 and empty fields; nextRoomId
// is the next room's number, or noRoom after the last.
struct RoomInfoReply {
    static constexpr quint32 lockedFlag = 1u << 0;

    quint32 status = 0;
    quint32 flags = 0;
    QString title;
    quint32 userCount = 0;
    quint32 capacity = 0;
    quint32 gameId = chatOnlyGameId;
    quint32 nextRoomId = noRoom;

    bool exists() const { return status == 0; }
    bool locked() const { return flags & lockedFlag; }
    static RoomInfoReply read(FieldReader& in);
    QByteArray frame() const;
};

// The answer to Authenticate: result 0 with the user's number, the users connected and the
// system message, or a refusal.
struct LoginReply {
    quint32 result = 0;
    quint32 userId = 0;
    quint32 connectionCount = 0;
    QString message;

    static LoginReply read(FieldReader& in);
    QByteArray frame() const;
};
