#include "accountservice.h"

#include "addressguard.h"
#include "outbox.h"
#include "ratewindow.h"
#include "serverconfig.h"
#include "textchecks.h"

#include <QDateTime>

constexpr int registrationKeyLength = 20;
constexpr int generatedPasswordLength = 12;
constexpr int generatedAccountLength = 10;

AccountService::AccountService(const ServerConfig& config, Store& store, Outbox& outbox,
                               AddressGuard& addressGuard)
    : config(config), store(store), outbox(outbox), addressGuard(addressGuard)
{
}

AccountService::~AccountService()
{
    waitForJobs();
}

void AccountService::waitForJobs()
{
    pool.waitForDone();
}

AccountService::Answer AccountService::registerMail(const QString& address, const QString& mail)
{
    // The client knows only "already registered" and "too long"; an address that cannot be
    // mailed is answered as the latter.
    if (!checkUtf8Length(mail, TextLimit::registrationMail) || !isUsableMail(mail))
        return {2, "registration: address too long or unusable", {}, {}};
    if (store.mailInUse(mail))
        return {1, "registration: address already registered: " + mail, {}, {}};
    if (!addressGuard.allowRegistrationMail(address, monotonicMs()))
        return {1, "registration: mail rate limit of the client's address", {}, {}};
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
        return {1, "registration: key not stored or not mailed", {}, {}};
    return {0, {}, "registration key mailed to " + mail, {}};
}

std::optional<AccountService::Answer> AccountService::registerKey(const QString& key, Waiter waiter)
{
    if (!store.registrationMail(key, QDateTime::currentSecsSinceEpoch()))
        return Answer{1, "registration: unknown, used or expired key", {}, {}};
    PasswordJob job;
    job.replacement = randomText(generatedPasswordLength);
    job.iterations = config.passwordIterations;
    const QString password = job.replacement;
    // The key was good, so the account is made and its login information mailed even when
    // the client went away meanwhile.
    startPasswordJob(job, {std::move(waiter),
                           [this, key, password](const PasswordJobResult& done) {
                               return completeRegistration(key, password, done.fresh);
                           },
                           true});
    return std::nullopt;
}

AccountService::Answer AccountService::completeRegistration(const QString& key,
                                                            const QString& password,
                                                            const StoredPassword& hash)
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
    // An account whose password nobody received would hold the address for good.
    const bool mailed = id && outbox.send(account.mail, "tileParlor アカウント情報", body);
    if (id && !mailed && !store.removeAccount(id))
        qWarning().noquote() << "registration: account" << account.name << "left without a mail";
    if (!mailed) {
        qInfo().noquote() << "registration: no account made for key" << key;
        return {1, "registration: key used meanwhile or account not made", {}, {}};
    }
    qInfo().noquote() << QString("account %1 (user %2) created for %3")
                             .arg(account.name)
                             .arg(id)
                             .arg(account.mail);
    return {};
}

std::optional<AccountService::Answer> AccountService::login(const QString& address,
                                                            const QString& account,
                                                            const QString& password, Waiter waiter)
{
    if (addressGuard.isLoginBarred(address, monotonicMs()))
        return Answer{1, "login: address barred after failed logins", {}, {}};
    const std::optional<Account> found = store.accountByName(account);
    if (!found)
        return failLogin(address, "login: unknown account " + account);
    PasswordJob job;
    job.verify = true;
    job.candidate = password;
    job.stored = found->password;
    const quint32 id = found->id;
    startPasswordJob(job, {std::move(waiter),
                           [this, address, id](const PasswordJobResult& done) {
                               return completeLogin(address, id, done.matched);
                           },
                           false});
    return std::nullopt;
}

AccountService::Answer AccountService::completeLogin(const QString& address, quint32 accountId,
                                                     bool matched)
{
    std::optional<Account> account = store.accountById(accountId);
    if (!matched || !account)
        return failLogin(address, QString("login: wrong password for user %1").arg(accountId));
    return {0, {}, {}, std::move(account)};
}

AccountService::Answer AccountService::failLogin(const QString& address, const QString& why)
{
    Answer refused{1, why, {}, {}};
    if (addressGuard.recordLoginFailure(address, monotonicMs()))
        refused.note =
            QString("failed logins: address barred for %1 s").arg(config.loginBanSeconds);
    return refused;
}

std::optional<AccountService::Answer> AccountService::changePassword(quint32 userId,
                                                                     const QString& current,
                                                                     const QString& replacement,
                                                                     Waiter waiter)
{
    if (replacement.isEmpty() || !checkUtf8Length(replacement, TextLimit::password))
        return Answer{2, "password change: new password empty or too long", {}, {}};
    const std::optional<Account> account = store.accountById(userId);
    if (!account || !checkUtf8Length(current, TextLimit::password))
        return Answer{1, "password change: wrong current password", {}, {}};
    PasswordJob job;
    job.verify = true;
    job.candidate = current;
    job.stored = account->password;
    job.replacement = replacement;
    job.iterations = config.passwordIterations;
    startPasswordJob(job, {std::move(waiter),
                           [this, userId](const PasswordJobResult& done) {
                               return completePasswordChange(userId, done);
                           },
                           false});
    return std::nullopt;
}

AccountService::Answer AccountService::completePasswordChange(quint32 userId,
                                                              const PasswordJobResult& result)
{
    if (!result.matched)
        return {1, "password change: wrong current password", {}, {}};
    if (!store.setPassword(userId, result.fresh))
        return {1, "password change: not stored", {}, {}};
    return {0, {}, "password changed", {}};
}

AccountService::Answer AccountService::changeHandle(quint32 userId, const QString& name)
{
    if (name.isEmpty() || hasControlCharacters(name))
        return {1, "handle name empty or with control characters", {}, {}};
    if (!store.setHandle(userId, name))
        return {1, "handle name not stored", {}, {}};
    return {0, {}, "handle name set to " + name, {}};
}

AccountService::Answer AccountService::changeMail(quint32 userId, const QString& mail)
{
    if (!isUsableMail(mail))
        return {1, "mail address unusable: " + mail, {}, {}};
    const std::optional<Account> account = store.accountById(userId);
    if (account && account->mail == mail)
        return {};
    if (store.mailInUse(mail) || !store.setMail(userId, mail))
        return {1, "mail address in use or not stored: " + mail, {}, {}};
    return {0, {}, "mail address set to " + mail, {}};
}

std::optional<QString> AccountService::storedHandle(quint32 userId)
{
    const std::optional<Account> account = store.accountById(userId);
    return account ? std::optional<QString>(account->handle) : std::nullopt;
}

QString AccountService::mail(quint32 userId)
{
    const std::optional<Account> account = store.accountById(userId);
    return account ? account->mail : QString();
}

void AccountService::startPasswordJob(const PasswordJob& job, PendingJob pending)
{
    const quint64 ticket = ++lastTicket;
    pendingJobs.insert(ticket, std::move(pending));
    pool.start([this, ticket, job] {
        const PasswordJobResult result = runPasswordJob(job);
        QMetaObject::invokeMethod(
            this, [this, ticket, result] { finishPasswordJob(ticket, result); },
            Qt::QueuedConnection);
    });
}

void AccountService::finishPasswordJob(quint64 ticket, const PasswordJobResult& result)
{
    const PendingJob job = pendingJobs.take(ticket);
    const bool present = job.waiter.present();
    if (!present && !job.evenIfGone)
        return;
    const Answer answer = job.complete(result);
    if (present)
        job.waiter.answer(answer);
}
