#pragma once

#include "accountservice.h"

#include <QByteArrayView>

#include <functional>

class Connection;
class Lobby;
class Notifier;
class PayloadReader;
struct LobbyUser;
struct ServerConfig;

// Reads each request, checks it and answers it: one handler per request code, found in one
// table that also says whether the request needs a login and whether it is a command (one
// reply, and no second command before it). The work itself is the lobby's and the account
// service's; this class turns requests into their calls and their answers into replies.
class RequestDispatcher
{
  public:
    RequestDispatcher(Lobby& lobby, Notifier& notifier, AccountService& accounts);

    void dispatch(Connection& connection, QByteArrayView payload);
    // A connection ended: its user leaves the lobby.
    void connectionEnded(Connection& connection);

  private:
    using Handler = void (RequestDispatcher::*)(Connection&, PayloadReader&);
    struct Entry {
        Handler handler = nullptr;
        bool needsLogin = true;
        bool command = true;
    };
    using Answer = AccountService::Answer;

    static const Entry* entryFor(quint32 code);

    void quit(Connection& connection, PayloadReader& in);
    void globalMessage(Connection& connection, PayloadReader& in);
    void registerMail(Connection& connection, PayloadReader& in);
    void registerKey(Connection& connection, PayloadReader& in);
    void authenticate(Connection& connection, PayloadReader& in);
    void setPassword(Connection& connection, PayloadReader& in);
    void getName(Connection& connection, PayloadReader& in);
    void setName(Connection& connection, PayloadReader& in);
    void getMail(Connection& connection, PayloadReader& in);
    void setMail(Connection& connection, PayloadReader& in);
    void getCount(Connection& connection, PayloadReader& in);
    void getRoomInfo(Connection& connection, PayloadReader& in);
    void createRoom(Connection& connection, PayloadReader& in);
    void enterRoom(Connection& connection, PayloadReader& in);
    void leaveRoom(Connection& connection, PayloadReader& in);
    void speak(Connection& connection, PayloadReader& in);
    void recruitMatch(Connection& connection, PayloadReader& in);
    void cancelRecruit(Connection& connection, PayloadReader& in);
    void applyMatch(Connection& connection, PayloadReader& in);
    void cancelApply(Connection& connection, PayloadReader& in);
    void startBattle(Connection& connection, PayloadReader& in);
    void endBattle(Connection& connection, PayloadReader& in);
    void dropBattle(Connection& connection, PayloadReader& in);

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

    using Then = void (RequestDispatcher::*)(Connection&, const Answer&);
    using Start = std::function<std::optional<Answer>(AccountService::Waiter)>;
    // Starts a request that may need a password job: then takes its answer, whether it comes
    // at once or later, and the connection's command stays open meanwhile.
    void await(Connection& connection, Then then, const Start& start);

    Lobby& lobby;
    Notifier& notifier;
    AccountService& accounts;
    const ServerConfig& config;
};
