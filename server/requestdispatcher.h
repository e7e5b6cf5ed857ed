// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "accountservice.h"
#include "lobbyrequests.h"

#include <QByteArrayView>
#include <QHash>

#include <functional>

class Connection;
class Lobby;
class Notifier;
struct LobbyUser;
struct ServerConfig;

// A request that breaks the protocol. Every field is read and checked before the handler
// changes anything, and the handler's own checks come first too, so the dispatcher can drop
// the request and close its connection when this is thrown.
struct BadRequest {
    QString reason;
};

// Reads each request, checks it and answers it: one handler per request layout, found in one
// table that also says whether the request needs a login and whether it is a command (one
// reply, and no second command before it). The work itself is the lobby's and the account
// service's; this class turns requests into their calls and their answers into replies. Requests
// that need the store are answered when its answer comes; the others never wait for it.
class RequestDispatcher
{
  public:
    RequestDispatcher(Lobby& lobby, Notifier& notifier, AccountService& accounts);

    void dispatch(Connection& connection, QByteArrayView payload);
    // A connection ended: its user leaves the lobby.
    void connectionEnded(Connection& connection);

  private:
    using Handler = void (RequestDispatcher::*)(Connection&, RequestReader&);
    // Whether a request needs a login, refuses one (a second login on the same connection), or
    // takes either.
    enum class Login { Needed, Refused, Either };
    struct Entry {
        quint32 code;
        Handler handler;
        Login login;
        bool command;
    };
    using Answer = AccountService::Answer;

    static const Entry* entryFor(quint32 code);
    // The entry whose handler takes the request of its parameter's layout.
    template <auto handle> static Entry entry(Login login, bool command);
    // Reads the request of handle's layout, then hands it over.
    template <auto handle> void decode(Connection& connection, RequestReader& in);

    void quit(Connection& connection, const QuitRequest& request);
    void globalMessage(Connection& connection, const GlobalMessageRequest& request);
    void registerMail(Connection& connection, const RegisterMailRequest& request);
    void registerKey(Connection& connection, const RegisterKeyRequest& request);
    void authenticate(Connection& connection, const AuthenticateRequest& request);
    void setPassword(Connection& connection, const SetPasswordRequest& request);
    void getName(Connection& connection, const GetNameRequest& request);
    void setName(Connection& connection, const SetNameRequest& request);
    void getMail(Connection& connection, const GetMailRequest& request);
    void setMail(Connection& connection, const SetMailRequest& request);
    void getCount(Connection& connection, const GetCountRequest& request);
    void getRoomInfo(Connection& connection, const GetRoomInfoRequest& request);
    void createRoom(Connection& connection, const CreateRoomRequest& request);
    void enterRoom(Connection& connection, const EnterRoomRequest& request);
    void leaveRoom(Connection& connection, const LeaveRoomRequest& request);
    void speak(Connection& connection, const SpeakRequest& request);
    void recruitMatch(Connection& connection, const RecruitMatchRequest& request);
    void cancelRecruit(Connection& connection, const CancelRecruitRequest& request);
    void applyMatch(Connection& connection, const ApplyMatchRequest& request);
    void cancelApply(Connection& connection, const CancelApplyRequest& request);
    void startBattle(Connection& connection, const StartBattleRequest& request);
    void endBattle(Connection& connection, const EndBattleRequest& request);
    void dropBattle(Connection& connection, const DropBattleRequest& request);

    void answerName(Connection& connection, const Answer& found);
    void finishLogin(Connection& connection, const Answer& done);
    void completeLogin(Connection& connection, const Account& account);
    void refuseLogin(Connection& connection, const Answer& refused);

    LobbyUser& currentUser(Connection& connection);
    void reply(Connection& connection, quint32 result);
    // Answers a lobby change: 0 when it was made, 1 with a log line when it was refused.
    void answer(Connection& connection, const QString& refusal);
    void answerAccount(Connection& connection, const Answer& answer);
    // Writes an account answer's lines to the connection's log.
    void note(Connection& connection, const Answer& answer);

    using Then = std::function<void(RequestDispatcher&, Connection&, const Answer&)>;
    using Start = std::function<std::optional<Answer>(AccountService::Waiter)>;
    // Starts a request that may need the store or a password job: then takes its answer,
    // whether it comes at once or later, and a command stays open meanwhile.
    void await(Connection& connection, bool command, Then then, const Start& start);

    // Each connection's handle changes still being stored: its own name lookups wait behind
    // them, so that it reads the name it set.
    QHash<const Connection*, int> handleChanges;
    Lobby& lobby;
    Notifier& notifier;
    AccountService& accounts;
    const ServerConfig& config;
};
