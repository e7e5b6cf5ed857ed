// SPDX-License-Identifier: GPL-3.0-or-later
#include "accountservice.h"

#include "addressgroup.h"
#include "outbox.h"
#include "ratewindow.h"
#include "serverconfig.h"
#include "storeworker.h"
#include "textchecks.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>

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

AccountService::AccountService(const ServerConfig& config, StoreWorker& store, Outbox& outbox,
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

bool AccountService::hasPendingJobs() const
{
    return passwordJobs.jobs() > 0 || store.jobs() > 0;
}

void AccountService::waitForJobs()
{
    // A finished password job may queue a store job, and a store job's answer a password job.
    while (hasPendingJobs()) {
        passwordJobs.finishAll();
        store.finishAll();
    }
}

AccountService::Answer AccountService::storeFailure(const QString& what)
{
    return {1, what + ": store error", {}, {}};
}

template <class Work, class Then> void AccountService::withStore(Work work, Then then)
{
    store.run(this, std::move(work), std::move(then));
}

void AccountService::answerFromStore(std::function<Answer(Store&)> work, const Waiter& waiter)
{
    withStore(std::move(work), [waiter](const Answer& answer) {
        if (waiter.present())
            waiter.answer(answer);
    });
}

bool AccountService::queuePasswordJob(const QString& address, const PasswordJob& job,
                                      std::function<void(const PasswordJobResult&)> done)
{
    const bool suspect = addressGuard.failedLately(address, monotonicMs());
    QElapsedTimer queued;
    queued.start();
    return passwordJobs.submit(queueKey(address), suspect, job,
                               [this, queued, done = std::move(done)](const PasswordJobResult& r) {
                                   passwordSeconds.observe(queued.nsecsElapsed());
                                   done(r);
                               });
}

QString AccountService::queueKey(const QString& address) const
{
    return addressGroup(QHostAddress(address), config.ipv4GroupPrefix);
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

std::optional<AccountService::Answer>
AccountService::registerMail(const QString& address, const QString& mail, Waiter waiter)
{
    // The client knows only "already registered" and "too long"; an address that cannot be
    // mailed is answered as the latter.
    if (!checkUtf8Length(mail, TextLimit::registrationMail) || !isUsableMail(mail))
        return Answer{2, "registration: address too long or unusable", {}, {}};
    withStore([mail](Store& store) { return store.mailInUse(mail); },
              [this, address, mail, waiter](bool inUse) {
                  if (!waiter.present())
                      return;
                  if (inUse)
                      return waiter.answer(
                          {1, "registration: address already registered: " + mail, {}, {}});
                  if (!addressGuard.allowRegistrationMail(address, monotonicMs()))
                      return waiter.answer(
                          {1, "registration: mail rate limit of the client's address", {}, {}});
                  const QString key = randomText(registrationKeyLength);
                  const qint64 expires = QDateTime::currentSecsSinceEpoch() +
                                         qint64(config.registrationKeyHours) * 3600;
                  const QString body = QString("tileParlorへのアカウント登録を受け付けました。\n"
                                               "次の登録キーをtileParlorに入力してください。\n\n"
                                               "登録キー: %1\n\n"
                                               "このキーは%2時間有効です。\n")
                                           .arg(key)
                                           .arg(config.registrationKeyHours);
                  answerFromStore(
                      [this, mail, key, expires, body](Store& store) -> Answer {
                          if (!store.putRegistrationKey(mail, key, expires) ||
                              !outbox.send(mail, "tileParlor 登録キー", body))
                              return {1, "registration: key not stored or not mailed", {}, {}};
                          return {0, {}, "registration key mailed to " + mail, {}};
                      },
                      waiter);
              });
    return std::nullopt;
}

std::optional<AccountService::Answer> AccountService::registerKey(const QString& address,
                                                                  const QString& key, Waiter waiter)
{
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const auto check = [key, now](Store& store) {
        return store.registrationMail(key, now) ? Answer{}
               : store.lastCallFailed()
                   ? storeFailure("registration")
                   : Answer{1, "registration: unknown, used or expired key", {}, {}};
    };
    withStore(check, [this, address, key, waiter](const Answer& checked) {
        if (checked.result != 0) {
            if (waiter.present())
                waiter.answer(checked);
            return;
        }
        PasswordJob job;
        job.replacement = randomText(generatedPasswordLength);
        job.iterations = config.passwordIterations;
        const QString password = job.replacement;
        // The key was good, so the account is made and its login information mailed even when
        // the client went away meanwhile.
        const auto complete = [this, key, password, waiter](const PasswordJobResult& done) {
            answerFromStore(
                [this, key, password, hash = done.fresh](Store& store) {
                    return completeRegistration(store, key, password, hash);
                },
                waiter);
        };
        if (!queuePasswordJob(address, job, complete) && waiter.present())
            waiter.answer({1, "registration: password queue full", {}, {}});
    });
    return std::nullopt;
}

AccountService::Answer AccountService::completeRegistration(Store& store, const QString& key,
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
    if (addressGuard.isLoginBarred(address, now)) {
        ++outcomes["address_barred"];
        return Answer{1, "login: address barred after failed logins", {}, {}};
    }
    if (accountGuard.isLocked(account, address, now)) {
        // Guessing at a locked account still counts against the guessing address.
        addressGuard.recordLoginFailure(address, now);
        ++outcomes["account_locked"];
        return Answer{1, "login: account locked after failed logins: " + account, {}, {}};
    }
    const auto find = [account, address](Store& store) {
        std::optional<Account> found = store.accountByName(account);
        Found answer{found, !found && store.lastCallFailed()};
        for (const Ban& ban : store.activeBans(QDateTime::currentSecsSinceEpoch())) {
            if (ban.covers(account, address))
                answer.ban = ban;
        }
        answer.storeFailed = answer.storeFailed || store.lastCallFailed();
        return answer;
    };
    withStore(find, [this, address, account, password, waiter](const Found& found) {
        if (!waiter.present())
            return;
        if (found.storeFailed) {
            ++outcomes["store_error"];
            return waiter.answer(storeFailure("login"));
        }
        if (found.ban) {
            ++outcomes["banned"];
            return waiter.answer(
                {1,
                 QString("login: banned (%1 %2)").arg(found.ban->kind, found.ban->target),
                 {},
                 {}});
        }
        // An unknown account costs the same check as a known one, so that the time of the
        // answer does not tell which accounts exist.
        PasswordJob job;
        job.verify = true;
        job.candidate = password;
        job.stored = found.account ? found.account->password : unknownAccountPassword;
        const quint32 id = found.account ? found.account->id : 0;
        const auto complete = [this, address, account, id, waiter](const PasswordJobResult& done) {
            if (waiter.present())
                completeLogin(address, account, id, done.matched, waiter);
        };
        if (!queuePasswordJob(address, job, complete)) {
            ++outcomes["queue_full"];
            waiter.answer({1, "login: password queue full", {}, {}});
        }
    });
    return std::nullopt;
}

void AccountService::completeLogin(const QString& address, const QString& name, quint32 accountId,
                                   bool matched, const Waiter& waiter)
{
    if (!accountId)
        return waiter.answer(
            failLogin(address, name, "login: unknown account " + name, "unknown_account"));
    if (!matched)
        return waiter.answer(failLogin(address, name,
                                       QString("login: wrong password for user %1").arg(accountId),
                                       "wrong_password"));
    const auto find = [accountId](Store& store) {
        std::optional<Account> found = store.accountById(accountId);
        return Found{found, !found && store.lastCallFailed()};
    };
    withStore(find, [this, address, name, waiter](const Found& found) {
        if (!waiter.present())
            return;
        if (!found.account && found.storeFailed)
            ++outcomes["store_error"];
        if (!found.account)
            return waiter.answer(
                found.storeFailed
                    ? storeFailure("login")
                    : failLogin(address, name, "login: account gone meanwhile", "unknown_account"));
        ++outcomes["accepted"];
        accountGuard.recordSuccess(name, address, monotonicMs());
        waiter.answer({0, {}, {}, found.account});
    });
}

AccountService::Answer AccountService::failLogin(const QString& address, const QString& name,
                                                 const QString& why, const char* outcome)
{
    ++outcomes[outcome];
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
    const auto find = [userId](Store& store) {
        std::optional<Account> found = store.accountById(userId);
        return Found{found, !found && store.lastCallFailed()};
    };
    withStore(find, [this, address, userId, current, replacement, waiter](const Found& found) {
        if (!waiter.present())
            return;
        if (found.storeFailed)
            return waiter.answer(storeFailure("password change"));
        if (!found.account || !checkUtf8Length(current, TextLimit::password))
            return waiter.answer({1, "password change: wrong current password", {}, {}});
        PasswordJob job;
        job.verify = true;
        job.candidate = current;
        job.stored = found.account->password;
        job.replacement = replacement;
        job.iterations = config.passwordIterations;
        const auto complete = [this, userId, waiter](const PasswordJobResult& done) {
            if (waiter.present())
                completePasswordChange(userId, done, waiter);
        };
        if (!queuePasswordJob(address, job, complete))
            waiter.answer({1, "password change: password queue full", {}, {}});
    });
    return std::nullopt;
}

void AccountService::completePasswordChange(quint32 userId, const PasswordJobResult& result,
                                            const Waiter& waiter)
{
    if (!result.matched)
        return waiter.answer({1, "password change: wrong current password", {}, {}});
    answerFromStore(
        [userId, fresh = result.fresh](Store& store) -> Answer {
            if (!store.setPassword(userId, fresh))
                return {1, "password change: not stored", {}, {}};
            return {0, {}, "password changed", {}};
        },
        waiter);
}

std::optional<AccountService::Answer>
AccountService::changeHandle(quint32 userId, const QString& name, Waiter waiter)
{
    if (name.isEmpty() || hasControlCharacters(name))
        return Answer{1, "handle name empty or with control characters", {}, {}};
    if (!accountGuard.allowChange(userId, monotonicMs()))
        return Answer{1, "handle name change: rate limit", {}, {}};
    answerFromStore(
        [userId, name](Store& store) -> Answer {
            if (!store.setHandle(userId, name))
                return {1, "handle name not stored", {}, {}};
            return {0, {}, "handle name set to " + name, {}};
        },
        waiter);
    return std::nullopt;
}

std::optional<AccountService::Answer> AccountService::changeMail(quint32 userId,
                                                                 const QString& mail, Waiter waiter)
{
    if (!isUsableMail(mail))
        return Answer{1, "mail address unusable: " + mail, {}, {}};
    if (!accountGuard.allowChange(userId, monotonicMs()))
        return Answer{1, "mail address change: rate limit", {}, {}};
    answerFromStore(
        [userId, mail](Store& store) -> Answer {
            const std::optional<Account> account = store.accountById(userId);
            if (account && account->mail == mail)
                return {};
            // Addresses are unique without regard to case: a new spelling of one's own is no
            // conflict.
            const bool respelled = account && account->mail.compare(mail, Qt::CaseInsensitive) == 0;
            if ((!respelled && store.mailInUse(mail)) || !store.setMail(userId, mail))
                return {1, "mail address in use or not stored: " + mail, {}, {}};
            return {0, {}, "mail address set to " + mail, {}};
        },
        waiter);
    return std::nullopt;
}

std::optional<AccountService::Answer> AccountService::lookUp(quint32 userId, Waiter waiter)
{
    answerFromStore(
        [userId](Store& store) {
            std::optional<Account> account = store.accountById(userId);
            return Answer{account ? 0u : 1u, {}, {}, std::move(account)};
        },
        waiter);
    return std::nullopt;
}
