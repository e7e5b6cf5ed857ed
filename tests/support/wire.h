// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbymessages.h"
#include "lobbyrequests.h"

#include <QByteArray>

// Lobby frames for the suites. The ones several suites script are named here; the rest are
// frameBytes(layout). All come from the wire library, whose bytes tst_protocolsocket pins.

inline QByteArray clientHello()
{
    return FrameWriter::clientHello().toByteArray();
}

inline QByteArray serverHello(quint32 result)
{
    return FrameWriter::serverHello(result).toByteArray();
}

inline QByteArray authenticateRequest(const QString& account, const QString& password)
{
    return frameBytes(AuthenticateRequest{account, password});
}

inline QByteArray authenticateReply(quint32 result, quint32 userId, quint32 count,
                                    const QString& message)
{
    return frameBytes(LoginReply{result, userId, count, message});
}

inline QByteArray getNameRequest(quint32 userId)
{
    return frameBytes(GetNameRequest{userId});
}

inline QByteArray nameReply(quint32 result, const QString& name)
{
    return frameBytes(NameReply{result, name});
}

inline QByteArray getRoomInfoRequest(quint32 roomId)
{
    return frameBytes(GetRoomInfoRequest{roomId});
}

// A room event; fields a kind does not use stay 0.
struct Event {
    quint32 kind, userId, otherId = 0;
    QString text = {};
    quint32 value = 0;
};

inline QByteArray roomEventFrame(quint32 roomId, const Event& event)
{
    const QByteArray text = event.text.toUtf8();
    return frameBytes(
        RoomEventFields{event.kind, roomId, event.userId, event.otherId, event.value, 0, text});
}

// The answer to EnterRoom that lets the user in with these members.
inline QByteArray enteredReply(std::initializer_list<quint32> members)
{
    QByteArray frames = frameBytes(EnterRoomReply{0, quint32(members.size())});
    for (quint32 member : members)
        frames += frameBytes(ResultReply{member});
    return frames;
}

// Loose bytes, for what is no layout: malformed frames and payloads a test makes up.
// Little-endian u32.
struct Wire : QByteArray {
    Wire& u32(quint32 v) { return byte(v).byte(v >> 8).byte(v >> 16).byte(v >> 24); }
    Wire& byte(quint8 value) { return static_cast<Wire&>(append(char(value))); }
};

// A frame: u32 length then the payload.
inline QByteArray frame(const QByteArray& payload)
{
    return Wire().u32(quint32(payload.size())) + payload;
}

// A reply frame (type byte 0) carrying the given fields.
inline QByteArray replyFrame(const QByteArray& fields)
{
    return frame(Wire().byte(ReplyPacket) + fields);
}

// A request of its code alone, without the fields its layout may have.
inline QByteArray request(quint32 code)
{
    return frame(Wire().u32(code));
}

// An engine order block as hex: its number, fifteen zero bytes, then the text and zeros to 272
// bytes.
inline QByteArray engineBlockHex(char order, const QByteArray& text = {})
{
    return (order + QByteArray(15, '\0') + text).leftJustified(272, '\0').toHex();
}
