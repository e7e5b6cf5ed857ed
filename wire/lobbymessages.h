// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "wirelayout.h"

// The server's replies and notifications, one layout each (see wirelayout.h).

// A reply of one number: the result of most commands, GetCount's number of room slots,
// CreateRoom's new room (noRoom when refused), and each member after an EnterRoomReply.
struct ResultReply {
    quint32 result = 0;
    template <class Fields> void fields(Fields& f) { f.u32("result", result); }
};

// The answer to GetName: result 0 with the handle, or 1 and an empty name for no such user.
struct NameReply {
    quint32 result = 0;
    QString name;
    template <class Fields> void fields(Fields& f)
    {
        f.u32("result", result);
        f.text("name", name);
    }
};

// The answer to GetMail.
struct MailReply {
    QString mail;
    template <class Fields> void fields(Fields& f) { f.text("mail", mail); }
};

// The first answer to EnterRoom. With result 0, memberCount ResultReply packets follow, one per
// member (the entering user among them); a refusal has memberCount 0 and nothing follows.
struct EnterRoomReply {
    quint32 result = 0;
    quint32 memberCount = 0;
    template <class Fields> void fields(Fields& f)
    {
        f.u32("result", result);
        f.u32("memberCount", memberCount);
    }
};

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
    template <class Fields> void fields(Fields& f)
    {
        f.u32("status", status);
        f.u32("flags", flags);
        f.text("title", title);
        f.u32("userCount", userCount);
        f.u32("capacity", capacity);
        f.u32("gameId", gameId);
        f.u32("nextRoomId", nextRoomId);
    }
};

// The answer to Authenticate: result 0 with the user's number, the users connected and the
// system message, or a refusal.
struct LoginReply {
    quint32 result = 0;
    quint32 userId = 0;
    quint32 connectionCount = 0;
    QString message;
    template <class Fields> void fields(Fields& f)
    {
        f.u32("result", result);
        f.u32("userId", userId);
        f.u32("connectionCount", connectionCount);
        f.text("message", message);
    }
};

// The last packet before the server closes the connection.
struct CloseNotification {
    static constexpr NotifyKind kind = CloseNotice;
    quint32 reason = CloseNormal;
    template <class Fields> void fields(Fields& f) { f.u32("reason", reason); }
};

struct ConnectionCountNotification {
    static constexpr NotifyKind kind = NotifyConnectionCount;
    quint32 count = 0;
    template <class Fields> void fields(Fields& f) { f.u32("count", count); }
};

struct SystemMessageNotification {
    static constexpr NotifyKind kind = NotifySystemMessage;
    QString message;
    template <class Fields> void fields(Fields& f) { f.text("message", message); }
};

// A room event. The text stays the packet's undecoded bytes: a reader that keeps the event past
// its packet takes text().
struct RoomEventFields {
    static constexpr NotifyKind kind = NotifyRoomEvent;
    quint32 eventKind = 0;
    quint32 roomId = 0;
    quint32 userId = 0;
    quint32 otherId = 0;
    quint32 value = 0;
    quint32 reserved = 0;
    QByteArrayView utf8Text;

    QString text() const { return QString::fromUtf8(utf8Text); }
    template <class Fields> void fields(Fields& f)
    {
        f.u32("eventKind", eventKind);
        f.u32("roomId", roomId);
        f.u32("userId", userId);
        f.u32("otherId", otherId);
        f.u32("value", value);
        f.u32("reserved", reserved);
        f.text("text", utf8Text);
    }
};
