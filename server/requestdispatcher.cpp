#include "requestdispatcher.h"

#include "connection.h"
#include "lobby.h"
#include "lobbymessages.h"
#include "notifier.h"
#include "payloadreader.h"
#include "textlimits.h"

#include <QPointer>

RequestDispatcher::RequestDispatcher(Lobby& lobby, Notifier& notifier, AccountService& accounts)
    : lobby(lobby), notifier(notifier), accounts(accounts), config(lobby.settings())
{
}

const RequestDispatcher::Entry* RequestDispatcher::entryFor(quint32 code)
{
    using D = RequestDispatcher;
    // Indexed by request code; 10 and 11 are unassigned.
    static const Entry table[] = {
        {&D::quit, false, false},
        {&D::globalMessage, true, false},
        {&D::registerMail, false, true},
        {&D::registerKey, false, true},
        {&D::authenticate, false, true},
        {&D::setPassword, true, true},
        {&D::getName, true, true},
        {&D::setName, true, false},
        {&D::getMail, true, true},
        {&D::setMail, true, false},
        {},
        {},
        {&D::getCount, true, true},
        {&D::getRoomInfo, true, true},
        {&D::createRoom, true, true},
        {&D::enterRoom, true, true},
        {&D::leaveRoom, true, true},
        {&D::speak, true, false},
        {&D::recruitMatch, true, true},
        {&D::cancelRecruit, true, true},
        {&D::applyMatch, true, true},
        {&D::cancelApply, true, true},
        {&D::startBattle, true, true},
        {&D::endBattle, true, true},
        {&D::dropBattle, true, true},
    };
    static_assert(sizeof table / sizeof table[0] == lastRequestCode + 1);
    if (code > lastRequestCode || !table[code].handler)
        return nullptr;
    return &table[code];
}

void RequestDispatcher::dispatch(Connection& connection, QByteArrayView payload)
{
    PayloadReader in(payload);
    try {
        const quint32 code = in.u32("code");
        const Entry* entry = entryFor(code);
        if (!entry)
            throw BadRequest{QString("unknown request code %1").arg(code)};
        if (entry->needsLogin && !connection.isLoggedIn())
            throw BadRequest{QString("request %1 before login").arg(code)};
        if (entry->command && connection.isCommandPending())
            throw BadRequest{QString("command %1 before the reply to the previous one").arg(code)};
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
    connection.sendReply(FrameWriter::reply().u32(result).toByteArray());
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

void RequestDispatcher::await(Connection& connection, Then then, const Start& start)
{
    const QPointer<Connection> waiting(&connection);
    AccountService::Waiter later{[waiting] { return waiting && waiting->isOpen(); },
                                 [this, waiting, then](const Answer& answer) {
                                     waiting->setCommandPending(false);
                                     waiting->holdNotifications();
                                     (this->*then)(*waiting, answer);
                                     waiting->releaseNotifications();
                                 }};
    if (const std::optional<Answer> now = start(std::move(later)))
        (this->*then)(connection, *now);
    else
        connection.setCommandPending(true);
}

void RequestDispatcher::quit(Connection& connection, PayloadReader&)
{
    connection.closeWithNotice(CloseNormal, "quit");
}

void RequestDispatcher::globalMessage(Connection& connection, PayloadReader& in)
{
    const QString text = in.text("message", TextLimit::globalMessage);
    if (!currentUser(connection).admin) {
        connection.logRefusal("global message from a user who is no administrator");
        return;
    }
    connection.log("global message: " + text);
    lobby.setSystemMessage(text);
}

void RequestDispatcher::registerMail(Connection& connection, PayloadReader& in)
{
    const QString mail = in.text("mail", maxPayload);
    answerAccount(connection, accounts.registerMail(connection.peerText(), mail));
}

void RequestDispatcher::registerKey(Connection& connection, PayloadReader& in)
{
    const QString key = in.text("key", TextLimit::registrationKey);
    await(connection, &RequestDispatcher::answerAccount, [&](AccountService::Waiter later) {
        return accounts.registerKey(key, std::move(later));
    });
}

void RequestDispatcher::authenticate(Connection& connection, PayloadReader& in)
{
    if (connection.isLoggedIn())
        throw BadRequest{"login on a connection already logged in"};
    const QString account = in.text("account", TextLimit::account);
    const QString password = in.text("password", TextLimit::password);
    await(connection, &RequestDispatcher::finishLogin, [&](AccountService::Waiter later) {
        return accounts.login(connection.peerText(), account, password, std::move(later));
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
    lobby.login(accountId, account.name, account.handle, account.admin);
    connection.sendReply(
        LoginReply{0, accountId, quint32(lobby.userCount()), lobby.systemMessage()}.frame());
}

void RequestDispatcher::refuseLogin(Connection& connection, const Answer& refused)
{
    note(connection, refused);
    connection.sendReply(LoginReply{1, 0, quint32(lobby.userCount()), {}}.frame());
}

void RequestDispatcher::setPassword(Connection& connection, PayloadReader& in)
{
    const QString current = in.text("current password", maxPayload);
    const QString replacement = in.text("new password", maxPayload);
    await(connection, &RequestDispatcher::answerAccount, [&](AccountService::Waiter later) {
        return accounts.changePassword(connection.userId(), current, replacement, std::move(later));
    });
}

void RequestDispatcher::getName(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("userId");
    std::optional<QString> name;
    if (const LobbyUser* user = lobby.user(id))
        name = user->handle;
    else
        name = accounts.storedHandle(id);
    connection.sendReply(
        FrameWriter::reply().u32(name ? 0 : 1).str(name.value_or(QString())).toByteArray());
}

void RequestDispatcher::setName(Connection& connection, PayloadReader& in)
{
    const QString name = in.text("name", TextLimit::handleName);
    LobbyUser& user = currentUser(connection);
    const Answer changed = accounts.changeHandle(user.id, name);
    note(connection, changed);
    if (changed.refusal.isEmpty())
        user.handle = name;
}

void RequestDispatcher::getMail(Connection& connection, PayloadReader&)
{
    connection.sendReply(
        FrameWriter::reply().str(accounts.mail(connection.userId())).toByteArray());
}

void RequestDispatcher::setMail(Connection& connection, PayloadReader& in)
{
    const QString mail = in.text("mail", TextLimit::mail);
    note(connection, accounts.changeMail(connection.userId(), mail));
}

void RequestDispatcher::getCount(Connection& connection, PayloadReader&)
{
    reply(connection, lobby.roomSlots());
}

void RequestDispatcher::getRoomInfo(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    RoomInfoReply info;
    if (const Room* room = lobby.room(id)) {
        info.flags = room->password.isEmpty() ? 0 : RoomInfoReply::lockedFlag;
        info.title = room->title;
        info.userCount = quint32(room->members.size());
        info.capacity = room->capacity;
        info.gameId = room->gameId;
    } else {
        info.status = 1;
    }
    info.nextRoomId = lobby.roomAfter(id);
    connection.sendReply(info.frame());
}

void RequestDispatcher::createRoom(Connection& connection, PayloadReader& in)
{
    const QString title = in.text("title", TextLimit::roomTitle);
    const QString password = in.text("password", TextLimit::roomPassword);
    const quint32 capacity = in.u32("capacity");
    const quint32 gameId = in.u32("gameId");
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

void RequestDispatcher::enterRoom(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    const QString password = in.text("password", maxPayload);
    const EnterResult result = lobby.enterRoom(currentUser(connection), id, password);
    if (result != EnterResult::Entered) {
        static const char* const reasons[] = {"",
                                              "no such room",
                                              "room full",
                                              "wrong password",
                                              "already inside",
                                              "in too many rooms"};
        connection.logRefusal(QString("enter room %1: %2").arg(id).arg(reasons[int(result)]));
        connection.sendReply(FrameWriter::reply().u32(quint32(result)).u32(0).toByteArray());
        return;
    }
    const QVector<quint32>& members = lobby.room(id)->members;
    connection.sendReply(FrameWriter::reply().u32(0).u32(quint32(members.size())).toByteArray());
    for (quint32 member : members)
        reply(connection, member);
}

void RequestDispatcher::leaveRoom(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    answer(connection, lobby.leaveRoom(currentUser(connection), id));
}

void RequestDispatcher::speak(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    const QString text = in.text("text", maxPayload);
    if (text.size() > TextLimit::speakChars)
        throw BadRequest{QString("chat line of %1 characters").arg(text.size())};
    const Refusal refusal = lobby.speak(currentUser(connection), id, text);
    if (!refusal.isEmpty())
        connection.logRefusal(refusal);
}

void RequestDispatcher::recruitMatch(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    answer(connection, lobby.recruit(currentUser(connection), id));
}

void RequestDispatcher::cancelRecruit(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    answer(connection, lobby.cancelRecruit(currentUser(connection), id));
}

void RequestDispatcher::applyMatch(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    const quint32 hostId = in.u32("hostId");
    answer(connection, lobby.apply(currentUser(connection), id, hostId));
}

void RequestDispatcher::cancelApply(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    answer(connection, lobby.cancelApply(currentUser(connection), id));
}

void RequestDispatcher::startBattle(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    // The guests' engines connect to the host's address as this server sees it; an IPv6 host
    // (which the game's engine cannot reach) is at least written unambiguously.
    const QString host = connection.peerText();
    const QString address =
        (host.contains(':') ? "[" + host + "]" : host) + ":" + QString::number(gamePort);
    answer(connection, lobby.startBattle(currentUser(connection), id, address));
}

void RequestDispatcher::endBattle(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    answer(connection, lobby.endBattle(currentUser(connection), id));
}

void RequestDispatcher::dropBattle(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("roomId");
    answer(connection, lobby.dropBattle(currentUser(connection), id));
}
