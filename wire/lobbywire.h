// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

// The lobby protocol's wire constants, shared by the client, the server and the bot so that the
// three can never disagree. Fields are little-endian u32 and NUL-terminated UTF-8 strings.

constexpr quint32 helloMagic = 0x4B574A30; // "0JWK" on the wire
constexpr quint32 protocolVersion = 2;
constexpr int lengthPrefix = 4;
// Largest payload of one frame in either direction; a frame of 0 bytes is never valid.
constexpr int maxPayload = 1024;

// The server hello's result: accepted, or why not. A client that knows only the first two
// takes any other refusal as a failed connection.
enum HelloResult : quint32 {
    HelloAccepted = 0,
    HelloVersionRefused = 1,
    HelloMalformed = 2,
    // The server takes this lobby's connections only inside TLS.
    HelloPlainRefused = 3,
};
// A TLS record (the client's first, its handshake) starts with this byte; a plain hello with
// the low byte of its length, 8. So one port tells the two apart.
constexpr quint8 tlsHandshakeByte = 0x16;

constexpr quint16 defaultLobbyPort = 14142;
// The port the game's engines listen on for a match; the game-start text names it.
constexpr quint16 gamePort = 14141;

// Type byte that starts every server-to-client packet after the hello.
enum PacketType : quint8 {
    ReplyPacket = 0,
    NotifyPacket = 1,
};

// First u32 of every request payload. Append new codes; never renumber (deployed servers and
// clients rely on these values). 10 and 11 are unassigned.
enum RequestCode : quint32 {
    Quit = 0,
    GlobalMessage = 1,
    RegisterMail = 2,
    RegisterKey = 3,
    Authenticate = 4,
    SetPassword = 5,
    GetName = 6,
    SetName = 7,
    GetMail = 8,
    SetMail = 9,
    GetCount = 12,
    GetRoomInfo = 13,
    CreateRoom = 14,
    EnterRoom = 15,
    LeaveRoom = 16,
    Speak = 17,
    RecruitMatch = 18,
    CancelRecruit = 19,
    ApplyMatch = 20,
    CancelApply = 21,
    StartBattle = 22,
    EndBattle = 23,
    DropBattle = 24,
};
constexpr quint32 lastRequestCode = DropBattle;

// Kinds of server notifications (type byte 1), read as the first u32 after the type byte.
enum NotifyKind : quint32 {
    CloseNotice = 0,
    NotifyRoomEvent = 1,
    NotifyConnectionCount = 2,
    NotifySystemMessage = 3,
};

// Reason carried by a close notice.
enum CloseNoticeReason : quint32 {
    CloseNormal = 0,
    CloseServerShutdown = 1,
    CloseDuplicateLogin = 2,
    CloseVersionMismatch = 3,
    // An operator ended the connection; clients show any reason from 3 on as "disconnected by
    // the server", which is what happened.
    CloseByOperator = 4,
};

// eventKind of a NotifyRoomEvent.
enum RoomEventKind : quint32 {
    EventSpeak = 0,
    EventEnter = 1,
    EventLeave = 2,
    EventRecruitStart = 3,
    EventRecruitCancel = 4,
    EventApply = 5,
    EventApplyCancel = 6,
    EventGameStart = 7,
    EventGameEnd = 8,
    EventGameLeave = 9,
};
constexpr quint32 lastRoomEventKind = EventGameLeave;

// Game id of a room for chat only, and the "no room" answer of CreateRoom and GetRoomInfo's walk.
constexpr quint32 chatOnlyGameId = 0xFFFFFFFFu;
constexpr quint32 noRoom = 0xFFFFFFFFu;
