#include "requestdispatcher.h"

#include "connection.h"
#include "lobby.h"
#include "lobbymessages.h"
#include "addressguard.h"
#include "outbox.h"
#include "payloadreader.h"
#include "store.h"
#include "textchecks.h"

#include <QDateTime>

constexpr int registrationKeyLength = 20;
constexpr int generatedPasswordLength = 12;
constexpr int generatedAccountLength = 10;

RequestDispatcher::RequestDispatcher(Lobby& lobby, Store& store, Outbox& outbox,
                                     AddressGuard& addressGuard)
    : lobby(lobby), store(store), outbox(outbox), addressGuard(addressGuard),
      config(lobby.settings())
{
}

RequestDispatcher::~RequestDispatcher()
{
    waitForJobs();
}

void RequestDispatcher::waitForJobs()
{
    pool.waitForDone();
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
    const LobbyUser* user = lobby.user(connection.userId());
    if (user && user->connection == &connection)
        lobby.logout(connection.userId());
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

void RequestDispatcher::refuse(Connection& connection, quint32 result, const QString& why)
{
    connection.logRefusal(why);
    reply(connection, result);
}

void RequestDispatcher::answer(Connection& connection, const QString& refusal)
{
    if (refusal.isEmpty())
        reply(connection, 0);
    else
        refuse(connection, 1, refusal);
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
    // The client knows only "already registered" and "too long"; an address that cannot be
    // mailed is answered as the latter.
    if (!checkUtf8Length(mail, TextLimit::registrationMail) || !isUsableMail(mail))
        return refuse(connection, 2, "registration: address too long or unusable");
    if (store.mailInUse(mail))
        return refuse(connection, 1, "registration: address already registered: " + mail);
    if (!addressGuard.allowRegistrationMail(connection.peerText(), monotonicMs()))
        return refuse(connection, 1, "registration: mail rate limit of the client's address");
    const QString key = randomText(registrationKeyLength);
    const qint64 expires =
        QDateTime::currentSecsSinceEpoch() + qint64(config.registrationKeyHours) * 3600;
    const QString body = QString("tileParlorへのアカウント登録を受け付けました。\n"
                                 "次の登録キーをtileParlorに入力してください。\n\n"
                                 "登録キー: %1\n\n"
                                 "このキーは%2時間有効です。\n")
                             .arg(key)
                             .arg(config.registrationKeyHours);
    if (!store.putRegistrationKey(mail, key, expires) ||
        !outbox.send(mail, "tileParlor 登録キー", body))
        return refuse(connection, 1, "registration: key not stored or not mailed");
    connection.log("registration key mailed to " + mail);
    reply(connection, 0);
}

void RequestDispatcher::registerKey(Connection& connection, PayloadReader& in)
{
    const QString key = in.text("key", TextLimit::registrationKey);
    if (!store.registrationMail(key, QDateTime::currentSecsSinceEpoch()))
        return refuse(connection, 1, "registration: unknown, used or expired key");
    PasswordJob job;
    job.replacement = randomText(generatedPasswordLength);
    job.iterations = config.passwordIterations;
    const QString password = job.replacement;
    startPasswordJob(connection, job,
                     [this, key, password](Connection* connection, const PasswordJobResult& done) {
                         completeRegistration(connection, key, password, done.fresh);
                     });
}

// Runs even when the client went away meanwhile: the key was good, so the account is made and
// its login information mailed.
void RequestDispatcher::completeRegistration(Connection* connection, const QString& key,
                                             const QString& password, const StoredPassword& hash)
{
    const std::optional<QString> mail =
        store.takeRegistrationKey(key, QDateTime::currentSecsSinceEpoch());
    Account account;
    account.name = "tp" + randomText(generatedAccountLength);
    account.password = hash;
    account.mail = mail.value_or(QString());
    const quint32 id = mail ? store.createAccount(account) : 0;
    const QString body = QString("tileParlorのアカウントを作成しました。\n"
                                 "次のアカウントとパスワードでログインしてください。\n\n"
                                 "アカウント: %1\n"
                                 "パスワード: %2\n")
                             .arg(account.name, password);
    if (!id || !outbox.send(account.mail, "tileParlor アカウント情報", body)) {
        qInfo().noquote() << "registration: no account made for key" << key;
        if (connection)
            refuse(*connection, 1, "registration: key used meanwhile or account not made");
        return;
    }
    qInfo().noquote() << QString("account %1 (user %2) created for %3")
                             .arg(account.name)
                             .arg(id)
                             .arg(account.mail);
    if (connection)
        reply(*connection, 0);
}

void RequestDispatcher::authenticate(Connection& connection, PayloadReader& in)
{
    if (connection.isLoggedIn())
        throw BadRequest{"login on a connection already logged in"};
    const QString account = in.text("account", TextLimit::account);
    const QString password = in.text("password", TextLimit::password);
    if (addressGuard.isLoginBarred(connection.peerText(), monotonicMs()))
        return refuseLogin(connection, "login: address barred after failed logins");
    const std::optional<Account> found = store.accountByName(account);
    if (!found)
        return failLogin(connection, "login: unknown account " + account);
    PasswordJob job;
    job.verify = true;
    job.candidate = password;
    job.stored = found->password;
    const quint32 id = found->id;
    startPasswordJob(connection, job,
                     [this, id](Connection* connection, const PasswordJobResult& done) {
                         if (connection)
                             completeLogin(*connection, id, done.matched);
                     });
}

void RequestDispatcher::completeLogin(Connection& connection, quint32 accountId, bool matched)
{
    const std::optional<Account> account = store.accountById(accountId);
    if (!matched || !account)
        return failLogin(connection, QString("login: wrong password for user %1").arg(accountId));
    LobbyUser* existing = lobby.user(accountId);
    if (!existing && lobby.userCount() >= config.maxUsers)
        return refuseLogin(connection, "login: the lobby holds the most users allowed");
    if (existing) {
        Connection* older = existing->connection;
        older->closeWithNotice(CloseDuplicateLogin, "the account logged in again elsewhere");
        lobby.logout(accountId);
        older->setUserId(0);
    }
    connection.setUserId(accountId);
    connection.log("logged in as " + account->name);
    lobby.login(accountId, account->name, account->handle, account->admin, &connection);
    connection.sendReply(
        LoginReply{0, accountId, quint32(lobby.userCount()), lobby.systemMessage()}.frame());
}

void RequestDispatcher::failLogin(Connection& connection, const QString& why)
{
    if (addressGuard.recordLoginFailure(connection.peerText(), monotonicMs()))
        connection.log(
            QString("failed logins: address barred for %1 s").arg(config.loginBanSeconds));
    refuseLogin(connection, why);
}

void RequestDispatcher::refuseLogin(Connection& connection, const QString& why)
{
    connection.logRefusal(why);
    connection.sendReply(LoginReply{1, 0, quint32(lobby.userCount()), {}}.frame());
}

void RequestDispatcher::setPassword(Connection& connection, PayloadReader& in)
{
    const QString current = in.text("current password", maxPayload);
    const QString replacement = in.text("new password", maxPayload);
    if (replacement.isEmpty() || !checkUtf8Length(replacement, TextLimit::password))
        return refuse(connection, 2, "password change: new password empty or too long");
    const std::optional<Account> account = store.accountById(connection.userId());
    if (!account || !checkUtf8Length(current, TextLimit::password))
        return refuse(connection, 1, "password change: wrong current password");
    PasswordJob job;
    job.verify = true;
    job.candidate = current;
    job.stored = account->password;
    job.replacement = replacement;
    job.iterations = config.passwordIterations;
    startPasswordJob(connection, job,
                     [this](Connection* connection, const PasswordJobResult& done) {
                         if (connection)
                             completePasswordChange(*connection, done);
                     });
}

void RequestDispatcher::completePasswordChange(Connection& connection,
                                               const PasswordJobResult& result)
{
    if (!result.matched)
        return refuse(connection, 1, "password change: wrong current password");
    if (!store.setPassword(connection.userId(), result.fresh))
        return refuse(connection, 1, "password change: not stored");
    connection.log("password changed");
    reply(connection, 0);
}

void RequestDispatcher::getName(Connection& connection, PayloadReader& in)
{
    const quint32 id = in.u32("userId");
    QString name;
    bool known = false;
    if (const LobbyUser* user = lobby.user(id)) {
        name = user->handle;
        known = true;
    } else if (const std::optional<Account> account = store.accountById(id)) {
        name = account->handle;
        known = true;
    }
    connection.sendReply(FrameWriter::reply().u32(known ? 0 : 1).str(name).toByteArray());
}

void RequestDispatcher::setName(Connection& connection, PayloadReader& in)
{
    const QString name = in.text("name", TextLimit::handleName);
    LobbyUser& user = currentUser(connection);
    if (name.isEmpty() || hasControlCharacters(name))
        return connection.logRefusal("handle name empty or with control characters");
    if (!store.setHandle(user.id, name))
        return connection.logRefusal("handle name not stored");
    user.handle = name;
    connection.log("handle name set to " + name);
}

void RequestDispatcher::getMail(Connection& connection, PayloadReader&)
{
    const std::optional<Account> account = store.accountById(connection.userId());
    connection.sendReply(
        FrameWriter::reply().str(account ? account->mail : QString()).toByteArray());
}

void RequestDispatcher::setMail(Connection& connection, PayloadReader& in)
{
    const QString mail = in.text("mail", TextLimit::mail);
    if (!isUsableMail(mail))
        return connection.logRefusal("mail address unusable: " + mail);
    const std::optional<Account> account = store.accountById(connection.userId());
    if (account && account->mail == mail)
        return;
    if (store.mailInUse(mail) || !store.setMail(connection.userId(), mail))
        return connection.logRefusal("mail address in use or not stored: " + mail);
    connection.log("mail address set to " + mail);
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

void RequestDispatcher::startPasswordJob(Connection& connection, const PasswordJob& job,
                                         JobDone done)
{
    connection.setCommandPending(true);
    const quint64 ticket = ++lastTicket;
    pendingJobs.insert(ticket, PendingJob{&connection, std::move(done)});
    pool.start([this, ticket, job] {
        const PasswordJobResult result = runPasswordJob(job);
        QMetaObject::invokeMethod(
            this, [this, ticket, result] { finishPasswordJob(ticket, result); },
            Qt::QueuedConnection);
    });
}

void RequestDispatcher::finishPasswordJob(quint64 ticket, const PasswordJobResult& result)
{
    const PendingJob job = pendingJobs.take(ticket);
    Connection* connection =
        job.connection && job.connection->isOpen() ? job.connection.data() : nullptr;
    if (!connection) {
        job.done(nullptr, result);
        return;
    }
    connection->setCommandPending(false);
    connection->holdNotifications();
    job.done(connection, result);
    connection->releaseNotifications();
}
