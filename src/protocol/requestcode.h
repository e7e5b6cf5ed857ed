#pragma once

#include <QtGlobal>

// First u32 of every request payload. Append new codes; never renumber (the server relies on
// these values).
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

// Kinds of server notifications (type byte 1), read as the first u32 after the type byte.
enum NotifyKind : quint32 {
    CloseNotice = 0,
    NotifyRoomEvent = 1,
    NotifyConnectionCount = 2,
    NotifySystemMessage = 3,
};
