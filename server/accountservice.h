#pragma once

#include "addressguard.h"
#include "passwords.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class Outbox;
struct ServerConfig;

// The account work behind the requests: registration by mail and key, login, and changes of
// the password, handle name and mail address. Password jobs run off the event loop, through one
// bounded queue shared fairly among the clients' addresses.
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
    // These answer at once when they refuse, else queue a password job and answer the waiter
    // once it is done.
    std::optional<Answer> registerKey(const QString& address, const QString& key, Waiter waiter);
    std::optional<Answer> login(const QString& address, const QString& account,
                                const QString& password, Waiter waiter);
    std::optional<Answer> changePassword(const QString& address, quint32 userId,
                                         const QString& current, const QString& replacement,
                                         Waiter waiter);

    Answer changeHandle(quint32 userId, const QString& name);
    Answer changeMail(quint32 userId, const QString& mail);
    std::optional<QString> storedHandle(quint32 userId);
    QString mail(quint32 userId);

    // Runs the password jobs still queued or running to their end, for an orderly exit.
    void waitForJobs();
    bool hasPendingJobs() const { return passwordJobs.jobs() > 0; }

  private:
    using Completion = std::function<Answer(const PasswordJobResult&)>;

    Answer completeRegistration(const QString& key, const QString& password,
                                const StoredPassword& hash);
    Answer completeLogin(const QString& address, const QString& name, quint32 accountId,
                         bool matched);
    Answer failLogin(const QString& address, const QString& name, const QString& why);
    Answer completePasswordChange(quint32 userId, const PasswordJobResult& result);
    // A refusal for a store that failed, which says nothing about the client.
    static Answer storeFailure(const QString& what);

    // The share of the password queue a client's address belongs to.
    QString queueKey(const QString& address) const { return address; }
    // Queues the job; complete runs once it is done, while the waiter is present or, with
    // evenIfGone, always. False when the queue refused it.
    bool queuePasswordJob(const QString& address, const PasswordJob& job, Waiter waiter,
                          Completion complete, bool evenIfGone = false);
    // Lifts the locks that unlock-account asked for, and takes its requests away.
    void takeUnlockRequests();

    const ServerConfig& config;
    Store& store;
    Outbox& outbox;
    AddressGuard& addressGuard;
    AccountGuard accountGuard;
    const StoredPassword unknownAccountPassword;
    QFileSystemWatcher unlockRequests;
    QTimer forgetTimer;
    // Last member: destroyed first, so it waits for the jobs while the rest is intact.
    PasswordQueue passwordJobs;
};

// The request file that asks a running server to lift an account's lock, in its data folder.
QString unlockRequestFile(const QString& dataFolder, const QString& account);
