// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "textlimits.h"
#include "wirelayout.h"

// The requests a client sends, one layout each (see wirelayout.h). A text's limit is the one the
// server holds it to: a longer text is a protocol violation. A text whose limit is maxPayload
// may be of any length; the server answers one that is too long, or checks its characters.

// A request of its code alone.
template <RequestCode Code> struct PlainRequest {
    static constexpr RequestCode code = Code;
    template <class Fields> void fields(Fields&) {}
};
using QuitRequest = PlainRequest<Quit>;
using GetMailRequest = PlainRequest<GetMail>;
using GetCountRequest = PlainRequest<GetCount>;

// A request about one room, by its number.
template <RequestCode Code> struct RoomRequest {
    static constexpr RequestCode code = Code;
    quint32 roomId = 0;
    template <class Fields> void fields(Fields& f) { f.u32("roomId", roomId); }
};
using GetRoomInfoRequest = RoomRequest<GetRoomInfo>;
using LeaveRoomRequest = RoomRequest<LeaveRoom>;
using RecruitMatchRequest = RoomRequest<RecruitMatch>;
using CancelRecruitRequest = RoomRequest<CancelRecruit>;
using CancelApplyRequest = RoomRequest<CancelApply>;
using StartBattleRequest = RoomRequest<StartBattle>;
using EndBattleRequest = RoomRequest<EndBattle>;
using DropBattleRequest = RoomRequest<DropBattle>;

struct GlobalMessageRequest {
    static constexpr RequestCode code = GlobalMessage;
    QString message;
    template <class Fields> void fields(Fields& f)
    {
        f.text("message", message, TextLimit::globalMessage);
    }
};

// A mail longer than TextLimit::registrationMail is answered with result 2.
struct RegisterMailRequest {
    static constexpr RequestCode code = RegisterMail;
    QString mail;
    template <class Fields> void fields(Fields& f) { f.text("mail", mail, maxPayload); }
};

struct RegisterKeyRequest {
    static constexpr RequestCode code = RegisterKey;
    QString key;
    template <class Fields> void fields(Fields& f)
    {
        f.text("key", key, TextLimit::registrationKey);
    }
};

struct AuthenticateRequest {
    static constexpr RequestCode code = Authenticate;
    QString account;
    QString password;
    template <class Fields> void fields(Fields& f)
    {
        f.text("account", account, TextLimit::account);
        f.text("password", password, TextLimit::password);
    }
};

// A new password longer than TextLimit::password is answered with result 2.
struct SetPasswordRequest {
    static constexpr RequestCode code = SetPassword;
    QString current;
    QString replacement;
    template <class Fields> void fields(Fields& f)
    {
        f.text("current password", current, maxPayload);
        f.text("new password", replacement, maxPayload);
    }
};

struct GetNameRequest {
    static constexpr RequestCode code = GetName;
    quint32 userId = 0;
    template <class Fields> void fields(Fields& f) { f.u32("userId", userId); }
};

struct SetNameRequest {
    static constexpr RequestCode code = SetName;
    QString name;
    template <class Fields> void fields(Fields& f) { f.text("name", name, TextLimit::handleName); }
};

struct SetMailRequest {
    static constexpr RequestCode code = SetMail;
    QString mail;
    template <class Fields> void fields(Fields& f) { f.text("mail", mail, TextLimit::mail); }
};

// The password must also be at most TextLimit::roomPasswordChars characters; gameId is
// chatOnlyGameId for a room for chat only.
struct CreateRoomRequest {
    static constexpr RequestCode code = CreateRoom;
    QString title;
    QString password;
    quint32 capacity = 0;
    quint32 gameId = chatOnlyGameId;
    template <class Fields> void fields(Fields& f)
    {
        f.text("title", title, TextLimit::roomTitle);
        f.text("password", password, TextLimit::roomPassword);
        f.u32("capacity", capacity);
        f.u32("gameId", gameId);
    }
};

// A wrong password, however long, is answered.
struct EnterRoomRequest {
    static constexpr RequestCode code = EnterRoom;
    quint32 roomId = 0;
    QString password;
    template <class Fields> void fields(Fields& f)
    {
        f.u32("roomId", roomId);
        f.text("password", password, maxPayload);
    }
};

// The text must also be at most TextLimit::speakChars characters.
struct SpeakRequest {
    static constexpr RequestCode code = Speak;
    quint32 roomId = 0;
    QString text;
    template <class Fields> void fields(Fields& f)
    {
        f.u32("roomId", roomId);
        f.text("text", text, maxPayload);
    }
};

struct ApplyMatchRequest {
    static constexpr RequestCode code = ApplyMatch;
    quint32 roomId = 0;
    quint32 hostId = 0;
    template <class Fields> void fields(Fields& f)
    {
        f.u32("roomId", roomId);
        f.u32("hostId", hostId);
    }
};
