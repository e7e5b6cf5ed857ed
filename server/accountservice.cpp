#include "accountservice.h"

#include "outbox.h"
#include "ratewindow.h"
#include "serverconfig.h"
#include "textchecks.h"

#include <QDateTime>
#include <QDir>

constexpr int registrationKeyLength = 20;
constexpr int generatedPasswordLength = 12;
constexpr int generatedAccountLength = 10;
constexpr int forgetIntervalMs = 60 * 1000;

static AccountGuard::Limits accountLimits(const ServerConfig& config)
{
    return {config.lockAfterFailures, qint64(config.lockWindowSeconds) * 1000,
            qint64(config.lockSeconds) * 1000, qint64(config.maxLockSeconds) * 1000,
            config.accountChangesPerMinute};
}

QString unlockRequestFile(const QString& dataFolder, const QString& account)
{
    // Hex keeps any account name a plain file name.
    return QDir(dataFolder).filePath("unlock/" + QString::fromLatin1(account.toUtf8().toHex()));
}

AccountService::AccountService(const ServerConfig& config, Store& store, Outbox& outbox,
                               AddressGuard& addressGuard)
    : config(config), store(store), outbox(outbox), addressGuard(addressGuard),
      accountGuard(accountLimits(config)),
      unknownAccountPassword(unmatchablePassword(config.passwordIterations)),
      passwordJobs(
          {config.passwordThreads, config.passwordJobsWaiting, config.passwordJobsPerAddress})
{
    connect(&forgetTimer, &QTimer::timeout, this,
            [this] { accountGuard.forgetOld(monotonicMs()); });
    forgetTimer.start(forgetIntervalMs);
    if (config.dataFolder.isEmpty())
        return;
    const QString folder = QFileInfo(unlockRequestFile(config.dataFolder, "")).path();
    QDir().mkpath(folder);
    unlockRequests.addPath(folder);
    connect(&unlockRequests, &QFileSystemWatcher::directoryChanged, this,
            &AccountService::takeUnlockRequests);
    takeUnlockRequests();
}

AccountService::~AccountService()
{
    waitForJobs();
}

void AccountService::waitForJobs()
{
    passwordJobs.finishAll();
}

AccountService::Answer AccountService::storeFailure(const QString& what)
{
    return {1, what + ": store error", {}, {}};
}

bool AccountService::queuePasswordJob(const QString& address, const PasswordJob& job, Waiter waiter,
                                      Completion complete, bool evenIfGone)
{
    const bool suspect = addressGuard.failedLately(address, monotonicMs());
    return passwordJobs.submit(queueKey(address), suspect, job,
                               [waiter = std::move(waiter), complete = std::move(complete),
                                evenIfGone](const PasswordJobResult& result) {
                                   const bool present = waiter.present();
                                   if (!present && !evenIfGone)
                                       return;
                                   const Answer answer = complete(result);
                                   if (present)
                                       waiter.answer(answer);
                               });
}

void AccountService::takeUnlockRequests()
{
    QDir folder = QFileInfo(unlockRequestFile(config.dataFolder, "")).dir();
    for (const QString& file : folder.entryList(QDir::Files)) {
        const QString account = QString::fromUtf8(QByteArray::fromHex(file.toLatin1()));
        const bool wasLocked = accountGuard.unlock(account, monotonicMs());
        qInfo().noquote() << QString("account %1: failed logins forgotten%2 by the operator")
                                 .arg(account, wasLocked ? " and lock lifted" : "");
        folder.remove(file);
    }
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

std::optional<AccountService::Answer> AccountService::registerKey(const QString& address,
                                                                  const QString& key, Waiter waiter)
{
    if (!store.registrationMail(key, QDateTime::currentSecsSinceEpoch()))
        return store.lastCallFailed()
                   ? storeFailure("registration")
                   : Answer{1, "registration: unknown, used or expired key", {}, {}};
    PasswordJob job;
    job.replacement = randomText(generatedPasswordLength);
    job.iterations = config.passwordIterations;
    const QString password = job.replacement;
    // The key was good, so the account is made and its login information mailed even when
    // the client went away meanwhile.
    const auto complete = [this, key, password](const PasswordJobResult& done) {
        return completeRegistration(key, password, done.fresh);
    };
    if (!queuePasswordJob(address, job, std::move(waiter), complete, true))
        return Answer{1, "registration: password queue full", {}, {}};
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
    const qint64 now = monotonicMs();
    if (addressGuard.isLoginBarred(address, now))
        return Answer{1, "login: address barred after failed logins", {}, {}};
    if (accountGuard.isLocked(account, address, now)) {
        // Guessing at a locked account still counts against the guessing address.
        addressGuard.recordLoginFailure(address, now);
        return Answer{1, "login: account locked after failed logins: " + account, {}, {}};
    }
    const std::optional<Account> found = store.accountByName(account);
    if (!found && store.lastCallFailed())
        return storeFailure("login");
    // An unknown account costs the same check as a known one, so that the time of the answer
    // does not tell which accounts exist.
    PasswordJob job;
    job.verify = true;
    job.candidate = password;
    job.stored = found ? found->password : unknownAccountPassword;
    const quint32 id = found ? found->id : 0;
    const auto complete = [this, address, account, id](const PasswordJobResult& done) {
        return completeLogin(address, account, id, done.matched);
    };
    if (!queuePasswordJob(address, job, std::move(waiter), complete))
        return Answer{1, "login: password queue full", {}, {}};
    return std::nullopt;
}

AccountService::Answer AccountService::completeLogin(const QString& address, const QString& name,
                                                     quint32 accountId, bool matched)
{
    if (!accountId)
        return failLogin(address, name, "login: unknown account " + name);
    if (!matched)
        return failLogin(address, name,
                         QString("login: wrong password for user %1").arg(accountId));
    std::optional<Account> account = store.accountById(accountId);
    if (!account)
        return store.lastCallFailed() ? storeFailure("login")
                                      : failLogin(address, name, "login: account gone meanwhile");
    accountGuard.recordSuccess(name, address, monotonicMs());
    return {0, {}, {}, std::move(account)};
}

AccountService::Answer AccountService::failLogin(const QString& address, const QString& name,
                                                 const QString& why)
{
    const qint64 now = monotonicMs();
    Answer refused{1, why, {}, {}};
    QStringList notes;
    if (addressGuard.recordLoginFailure(address, now))
        notes << QString("address barred for %1 s").arg(config.loginBanSeconds);
    if (const qint64 lockMs = accountGuard.recordFailure(name, now))
        notes << QString("account %1 locked for %2 s").arg(name).arg(lockMs / 1000);
    if (!notes.isEmpty())
        refused.note = "failed logins: " + notes.join(", ");
    return refused;
}

std::optional<AccountService::Answer>
AccountService::changePassword(const QString& address, quint32 userId, const QString& current,
                               const QString& replacement, Waiter waiter)
{
    if (replacement.isEmpty() || !checkUtf8Length(replacement, TextLimit::password))
        return Answer{2, "password change: new password empty or too long", {}, {}};
    const std::optional<Account> account = store.accountById(userId);
    if (!account && store.lastCallFailed())
        return storeFailure("password change");
    if (!account || !checkUtf8Length(current, TextLimit::password))
        return Answer{1, "password change: wrong current password", {}, {}};
    PasswordJob job;
    job.verify = true;
    job.candidate = current;
    job.stored = account->password;
    job.replacement = replacement;
    job.iterations = config.passwordIterations;
    const auto complete = [this, userId](const PasswordJobResult& done) {
        return completePasswordChange(userId, done);
    };
    if (!queuePasswordJob(address, job, std::move(waiter), complete))
        return Answer{1, "password change: password queue full", {}, {}};
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
    if (!accountGuard.allowChange(userId, monotonicMs()))
        return {1, "handle name change: rate limit", {}, {}};
    if (!store.setHandle(userId, name))
        return {1, "handle name not stored", {}, {}};
    return {0, {}, "handle name set to " + name, {}};
}

AccountService::Answer AccountService::changeMail(quint32 userId, const QString& mail)
{
    if (!isUsableMail(mail))
        return {1, "mail address unusable: " + mail, {}, {}};
    if (!accountGuard.allowChange(userId, monotonicMs()))
        return {1, "mail address change: rate limit", {}, {}};
    const std::optional<Account> account = store.accountById(userId);
    if (account && account->mail == mail)
        return {};
    // Addresses are unique without regard to case: a new spelling of one's own is no conflict.
    const bool respelled = account && account->mail.compare(mail, Qt::CaseInsensitive) == 0;
    if ((!respelled && store.mailInUse(mail)) || !store.setMail(userId, mail))
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
