// SPDX-License-Identifier: GPL-3.0-or-later
#include "requestdispatcher.h"

#include "connection.h"
#include "lobby.h"
#include "lobbymessages.h"
#include "notifier.h"
#include "textlimits.h"

#include <QPointer>

RequestDispatcher::RequestDispatcher(Lobby& lobby, Notifier& notifier, AccountService& accounts)
    : lobby(lobby), notifier(notifier), accounts(accounts), config(lobby.settings())
{
}

namespace
{
// The request layout a handler takes.
template <class Request> Request layoutOf(void (RequestDispatcher::*)(Connection&, const Request&));

void throwIfBad(const RequestReader& in)
{
    if (in.failed())
        throw BadRequest{in.failure()};
}
} // namespace

template <auto handle> RequestDispatcher::Entry RequestDispatcher::entry(Login login, bool command)
{
    return {decltype(layoutOf(handle))::code, &RequestDispatcher::decode<handle>, login, command};
}

template <auto handle> void RequestDispatcher::decode(Connection& connection, RequestReader& in)
{
    const auto request = in.read<decltype(layoutOf(handle))>();
    throwIfBad(in);
    (this->*handle)(connection, request);
}

const RequestDispatcher::Entry* RequestDispatcher::entryFor(quint32 code)
{
    using D = RequestDispatcher;
    using L = Login;
    static const Entry table[] = {
        entry<&D::quit>(L::Either, false),         entry<&D::globalMessage>(L::Needed, false),
        entry<&D::registerMail>(L::Either, true),  entry<&D::registerKey>(L::Either, true),
        entry<&D::authenticate>(L::Refused, true), entry<&D::setPassword>(L::Needed, true),
        entry<&D::getName>(L::Needed, true),       entry<&D::setName>(L::Needed, false),
        entry<&D::getMail>(L::Needed, true),       entry<&D::setMail>(L::Needed, false),
        entry<&D::getCount>(L::Needed, true),      entry<&D::getRoomInfo>(L::Needed, true),
        entry<&D::createRoom>(L::Needed, true),    entry<&D::enterRoom>(L::Needed, true),
        entry<&D::leaveRoom>(L::Needed, true),     entry<&D::speak>(L::Needed, false),
        entry<&D::recruitMatch>(L::Needed, true),  entry<&D::cancelRecruit>(L::Needed, true),
        entry<&D::applyMatch>(L::Needed, true),    entry<&D::cancelApply>(L::Needed, true),
        entry<&D::startBattle>(L::Needed, true),   entry<&D::endBattle>(L::Needed, true),
        entry<&D::dropBattle>(L::Needed, true),
    };
    for (const Entry& entry : table) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

void RequestDispatcher::dispatch(Connection& connection, QByteArrayView payload)
{
    RequestReader in(payload);
    try {
        quint32 code = 0;
        in.u32("code", code);
        throwIfBad(in);
        const Entry* entry = entryFor(code);
        if (!entry)
            throw BadRequest{QString("unknown request code %1").arg(code)};
        connection.countRequest(code);
        if (entry->login == Login::Needed && !connection.isLoggedIn())
            throw BadRequest{QString("request %1 before login").arg(code)};
        if (entry->command && connection.isCommandPending())
            throw BadRequest{QString("command %1 before the reply to the previous one").arg(code)};
        if (entry->login == Login::Refused && connection.isLoggedIn())
            throw BadRequest{"login on a connection already logged in"};
        if (entry->command)
            connection.holdNotifications();
        (this->*entry->handler)(connection, in);
        if (entry->command)
            connection.releaseNotifications();
    } catch (const BadRequest& bad) {
        connection.closeForViolation(bad.reason);
    }
}

void RequestDispatcher::connectionEnded(Connection& connection)
{
    handleChanges.remove(&connection);
    const quint32 id = connection.userId();
    if (id && notifier.connection(id) == &connection) {
        notifier.detach(id);
        lobby.logout(id);
    }
}

LobbyUser& RequestDispatcher::currentUser(Connection& connection)
{
    LobbyUser* user = lobby.user(connection.userId());
    if (!user)
        throw BadRequest{"request from a user the lobby no longer holds"};
    return *user;
}

void RequestDispatcher::reply(Connection& connection, quint32 result)
{
    connection.sendReply(frameBytes(ResultReply{result}));
}

void RequestDispatcher::answer(Connection& connection, const QString& refusal)
{
    if (refusal.isEmpty())
        reply(connection, 0);
    else
        answerAccount(connection, {1, refusal, {}, {}});
}

void RequestDispatcher::answerAccount(Connection& connection, const Answer& answer)
{
    note(connection, answer);
    reply(connection, answer.result);
}

void RequestDispatcher::note(Connection& connection, const Answer& answer)
{
    if (!answer.note.isEmpty())
        connection.log(answer.note);
    if (!answer.refusal.isEmpty())
        connection.logRefusal(answer.refusal);
}

void RequestDispatcher::await(Connection& connection, bool command, Then then, const Start& start)
{
    const QPointer<Connection> waiting(&connection);
    AccountService::Waiter later{[waiting] { return waiting && waiting->isOpen(); },
                                 [this, waiting, then, command](const Answer& answer) {
                                     if (command) {
                                         waiting->setCommandPending(false);
                                         waiting->holdNotifications();
                                     }
                                     then(*this, *waiting, answer);
                                     if (command)
                                         waiting->releaseNotifications();
                                 }};
    if (const std::optional<Answer> now = start(std::move(later)))
        then(*this, connection, *now);
    else if (command)
        connection.setCommandPending(true);
}

void RequestDispatcher::quit(Connection& connection, const QuitRequest&)
{
    connection.closeWithNotice(CloseNormal, "quit");
}

void RequestDispatcher::globalMessage(Connection& connection, const GlobalMessageRequest& request)
{
    if (!currentUser(connection).admin) {
        connection.logRefusal("global message from a user who is no administrator");
        return;
    }
    connection.log("global message: " + request.message);
    lobby.setSystemMessage(request.message);
}

void RequestDispatcher::registerMail(Connection& connection, const RegisterMailRequest& request)
{
    await(connection, true, &RequestDispatcher::answerAccount, [&](AccountService::Waiter later) {
        return accounts.registerMail(connection.peerText(), request.mail, std::move(later));
    });
}

void RequestDispatcher::registerKey(Connection& connection, const RegisterKeyRequest& request)
{
    await(connection, true, &RequestDispatcher::answerAccount, [&](AccountService::Waiter later) {
        return accounts.registerKey(connection.peerText(), request.key, std::move(later));
    });
}

void RequestDispatcher::authenticate(Connection& connection, const AuthenticateRequest& request)
{
    await(connection, true, &RequestDispatcher::finishLogin, [&](AccountService::Waiter later) {
        return accounts.login(connection.peerText(), request.account, request.password,
                              std::move(later));
    });
}

void RequestDispatcher::finishLogin(Connection& connection, const Answer& done)
{
    if (done.account)
        completeLogin(connection, *done.account);
    else
        refuseLogin(connection, done);
}

void RequestDispatcher::completeLogin(Connection& connection, const Account& account)
{
    const quint32 accountId = account.id;
    const bool existing = lobby.user(accountId);
    if (!existing && lobby.userCount() >= config.maxUsers)
        return refuseLogin(connection,
                           {1, "login: the lobby holds the most users allowed", {}, {}});
    if (existing) {
        Connection* older = notifier.connection(accountId);
        older->closeWithNotice(CloseDuplicateLogin, "the account logged in again elsewhere");
        notifier.detach(accountId);
        lobby.logout(accountId);
        older->setUserId(0);
    }
    connection.setUserId(accountId);
    connection.log("logged in as " + account.name);
    notifier.attach(accountId, connection);
    lobby.login(accountId, account.name, account.handle, account.admin, connection.addressGroup());
    connection.sendReply(
        frameBytes(LoginReply{0, accountId, quint32(lobby.userCount()), lobby.systemMessage()}));
}

void RequestDispatcher::refuseLogin(Connection& connection, const Answer& refused)
{
    note(connection, refused);
    connection.sendReply(frameBytes(LoginReply{1, 0, quint32(lobby.userCount()), {}}));
}

void RequestDispatcher::setPassword(Connection& connection, const SetPasswordRequest& request)
{
    await(connection, true, &RequestDispatcher::answerAccount, [&](AccountService::Waiter later) {
        return accounts.changePassword(connection.peerText(), connection.userId(), request.current,
                                       request.replacement, std::move(later));
    });
}

void RequestDispatcher::getName(Connection& connection, const GetNameRequest& request)
{
    const LobbyUser* user = lobby.user(request.userId);
    if (user && !handleChanges.contains(&connection))
        return connection.sendReply(frameBytes(NameReply{0, user->handle}));
    await(connection, true, &RequestDispatcher::answerName, [&](AccountService::Waiter later) {
        return accounts.lookUp(request.userId, std::move(later));
    });
}

void RequestDispatcher::answerName(Connection& connection, const Answer& found)
{
    // The lobby's name of a user in it is the one in force.
    const LobbyUser* user = found.account ? lobby.user(found.account->id) : nullptr;
    const QString name = user ? user->handle : found.account ? found.account->handle : QString();
    connection.sendReply(frameBytes(NameReply{found.result, name}));
}

void RequestDispatcher::setName(Connection& connection, const SetNameRequest& request)
{
    const quint32 id = currentUser(connection).id;
    const QString name = request.name;
    const Connection* key = &connection;
    ++handleChanges[key];
    const auto changed = [id, name, key](RequestDispatcher& self, Connection& connection,
                                         const Answer& answer) {
        if (--self.handleChanges[key] <= 0)
            self.handleChanges.remove(key);
        self.note(connection, answer);
        LobbyUser* user = self.lobby.user(id);
        if (answer.refusal.isEmpty() && user)
            user->handle = name;
    };
    await(connection, false, changed, [&](AccountService::Waiter later) {
        return accounts.changeHandle(id, name, std::move(later));
    });
}

void RequestDispatcher::getMail(Connection& connection, const GetMailRequest&)
{
    await(
        connection, true,
        [](RequestDispatcher&, Connection& connection, const Answer& found) {
            connection.sendReply(
                frameBytes(MailReply{found.account ? found.account->mail : QString()}));
        },
        [&](AccountService::Waiter later) {
            return accounts.lookUp(connection.userId(), std::move(later));
        });
}

void RequestDispatcher::setMail(Connection& connection, const SetMailRequest& request)
{
    await(connection, false, &RequestDispatcher::note, [&](AccountService::Waiter later) {
        return accounts.changeMail(connection.userId(), request.mail, std::move(later));
    });
}

void RequestDispatcher::getCount(Connection& connection, const GetCountRequest&)
{
    reply(connection, lobby.roomSlots());
}

void RequestDispatcher::getRoomInfo(Connection& connection, const GetRoomInfoRequest& request)
{
    RoomInfoReply info;
    if (const Room* room = lobby.room(request.roomId)) {
        info.flags = room->password.isEmpty() ? 0 : RoomInfoReply::lockedFlag;
        info.title = room->title;
        info.userCount = quint32(room->members.size());
        info.capacity = room->capacity;
        info.gameId = room->gameId;
    } else {
        info.status = 1;
    }
    info.nextRoomId = lobby.roomAfter(request.roomId);
    connection.sendReply(frameBytes(info));
}

void RequestDispatcher::createRoom(Connection& connection, const CreateRoomRequest& request)
{
    const auto& [title, password, capacity, gameId] = request;
    if (password.size() > TextLimit::roomPasswordChars)
        throw BadRequest{"room password longer than 8 characters"};
    Refusal refusal;
    quint32 id = noRoom;
    if (title.isEmpty())
        refusal = "room creation: empty title";
    else if (capacity < 2 || capacity > 100)
        refusal = QString("room creation: capacity %1").arg(capacity);
    else if (gameId != chatOnlyGameId && !config.games.contains(gameId))
        refusal = QString("room creation: unknown game %1").arg(gameId);
    else
        id = lobby.createRoom(currentUser(connection), title, password, capacity, gameId, refusal);
    if (id == noRoom)
        connection.logRefusal(refusal);
    else
        connection.log(QString("created room %1").arg(id));
    reply(connection, id);
}

void RequestDispatcher::enterRoom(Connection& connection, const EnterRoomRequest& request)
{
    const quint32 id = request.roomId;
    const EnterResult result = lobby.enterRoom(currentUser(connection), id, request.password);
    if (result != EnterResult::Entered) {
        static const char* const reasons[] = {"",
                                              "no such room",
                                              "room full",
                                              "wrong password",
                                              "already inside",
                                              "in too many rooms"};
        connection.logRefusal(QString("enter room %1: %2").arg(id).arg(reasons[int(result)]));
        connection.sendReply(frameBytes(EnterRoomReply{quint32(result), 0}));
        return;
    }
    const QVector<quint32>& members = lobby.room(id)->members;
    connection.sendReply(frameBytes(EnterRoomReply{0, quint32(members.size())}));
    for (quint32 member : members)
        reply(connection, member);
}

void RequestDispatcher::leaveRoom(Connection& connection, const LeaveRoomRequest& request)
{
    answer(connection, lobby.leaveRoom(currentUser(connection), request.roomId));
}

void RequestDispatcher::speak(Connection& connection, const SpeakRequest& request)
{
    if (request.text.size() > TextLimit::speakChars)
        throw BadRequest{QString("chat line of %1 characters").arg(request.text.size())};
    const Refusal refusal = lobby.speak(currentUser(connection), request.roomId, request.text);
    if (!refusal.isEmpty())
        connection.logRefusal(refusal);
}

void RequestDispatcher::recruitMatch(Connection& connection, const RecruitMatchRequest& request)
{
    answer(connection, lobby.recruit(currentUser(connection), request.roomId));
}

void RequestDispatcher::cancelRecruit(Connection& connection, const CancelRecruitRequest& request)
{
    answer(connection, lobby.cancelRecruit(currentUser(connection), request.roomId));
}

void RequestDispatcher::applyMatch(Connection& connection, const ApplyMatchRequest& request)
{
    answer(connection, lobby.apply(currentUser(connection), request.roomId, request.hostId));
}

void RequestDispatcher::cancelApply(Connection& connection, const CancelApplyRequest& request)
{
    answer(connection, lobby.cancelApply(currentUser(connection), request.roomId));
}

void RequestDispatcher::startBattle(Connection& connection, const StartBattleRequest& request)
{
    // The guests' engines connect to the host's address as this server sees it; an IPv6 host
    // (which the game's engine cannot reach) is at least written unambiguously.
    const QString host = connection.peerText();
    const QString address =
        (host.contains(':') ? "[" + host + "]" : host) + ":" + QString::number(gamePort);
    answer(connection, lobby.startBattle(currentUser(connection), request.roomId, address));
}

void RequestDispatcher::endBattle(Connection& connection, const EndBattleRequest& request)
{
    answer(connection, lobby.endBattle(currentUser(connection), request.roomId));
}

void RequestDispatcher::dropBattle(Connection& connection, const DropBattleRequest& request)
{
    answer(connection, lobby.dropBattle(currentUser(connection), request.roomId));
}
