#pragma once

#include "passwords.h"

#include <QHash>
#include <QObject>
#include <QThreadPool>

#include <functional>
#include <optional>

class AddressGuard;
class Outbox;
struct ServerConfig;

// The account work behind the requests: registration by mail and key, login, and changes of
// the password, handle name and mail address. Password hashes run off the event loop.
class AccountService : public QObject
{
    Q_OBJECT

  public:
    // How a request ended: the reply's result, a refusal (when not empty) and a note for the
    // client's log, and for a login that got in, the account.
    struct Answer {
        quint32 result = 0;
        QString refusal;
        QString note;
        std::optional<Account> account;
    };
    // The client of a slow request. By the time the answer is ready it may have gone; then
    // only the work that must not be lost is done.
    struct Waiter {
        std::function<bool()> present;
        std::function<void(const Answer&)> answer;
    };

    AccountService(const ServerConfig& config, Store& store, Outbox& outbox,
                   AddressGuard& addressGuard);
    ~AccountService() override;

    Answer registerMail(const QString& address, const QString& mail);
    // These answer at once when they refuse, else start a password job and answer the waiter
    // once it is done.
    std::optional<Answer> registerKey(const QString& key, Waiter waiter);
    std::optional<Answer> login(const QString& address, const QString& account,
                                const QString& password, Waiter waiter);
    std::optional<Answer> changePassword(quint32 userId, const QString& current,
                                         const QString& replacement, Waiter waiter);

    Answer changeHandle(quint32 userId, const QString& name);
    Answer changeMail(quint32 userId, const QString& mail);
    std::optional<QString> storedHandle(quint32 userId);
    QString mail(quint32 userId);

    // Waits for the password work in flight, for an orderly exit.
    void waitForJobs();
    bool hasPendingJobs() const { return !pendingJobs.isEmpty(); }

  private:
    using Completion = std::function<Answer(const PasswordJobResult&)>;
    struct PendingJob {
        Waiter waiter;
        Completion complete;
        bool evenIfGone = false;
    };

    Answer completeRegistration(const QString& key, const QString& password,
                                const StoredPassword& hash);
    Answer completeLogin(const QString& address, quint32 accountId, bool matched);
    Answer failLogin(const QString& address, const QString& why);
    Answer completePasswordChange(quint32 userId, const PasswordJobResult& result);

    // Completes the job once the hash is done: only while the waiter is present, unless
    // evenIfGone.
    void startPasswordJob(const PasswordJob& job, PendingJob pending);
    void finishPasswordJob(quint64 ticket, const PasswordJobResult& result);

    const ServerConfig& config;
    Store& store;
    Outbox& outbox;
    AddressGuard& addressGuard;
    QHash<quint64, PendingJob> pendingJobs;
    quint64 lastTicket = 0;
    // Last member: destroyed first, so it waits for the jobs while the rest is intact.
    QThreadPool pool;
};
