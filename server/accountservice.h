// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "addressguard.h"
#include "metrics.h"
#include "passwords.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

class Outbox;
class StoreWorker;
struct ServerConfig;

// The account work behind the requests: registration by mail and key, login, and changes of
// the password, handle name and mail address. Password jobs run off the event loop, through one
// bounded queue shared fairly among the clients' addresses; the store's work runs on the store
// worker's thread, and so does the mail, which is written to the disk. The limits on logins,
// registrations and changes stay on the event loop.
class AccountService : public QObject
{
    Q_OBJECT

  public:
    // How a request ended: the reply's result, a refusal (when not empty) and a note for the
    // client's log, and for a login that got in or an account looked up, the account.
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

    AccountService(const ServerConfig& config, StoreWorker& store, Outbox& outbox,
                   AddressGuard& addressGuard);
    ~AccountService() override;

    // These answer at once when they refuse without the store, else answer the waiter once the
    // store's work and the password job they need are done.
    std::optional<Answer> registerMail(const QString& address, const QString& mail, Waiter waiter);
    std::optional<Answer> registerKey(const QString& address, const QString& key, Waiter waiter);
    std::optional<Answer> login(const QString& address, const QString& account,
                                const QString& password, Waiter waiter);
    std::optional<Answer> changePassword(const QString& address, quint32 userId,
                                         const QString& current, const QString& replacement,
                                         Waiter waiter);

    std::optional<Answer> changeHandle(quint32 userId, const QString& name, Waiter waiter);
    std::optional<Answer> changeMail(quint32 userId, const QString& mail, Waiter waiter);
    // The stored account, with result 1 when there is none.
    std::optional<Answer> lookUp(quint32 userId, Waiter waiter);

    // Logins answered so far, by outcome ("accepted", "wrong_password", ...), and the password
    // jobs waiting or running now.
    const QHash<QString, quint64>& loginOutcomes() const { return outcomes; }
    int passwordJobsQueued() const { return passwordJobs.jobs(); }
    // From the queueing of a password job to its result: the wait for a thread is what grows
    // when guessers or a crowd of logins fill the queue.
    const Histogram& passwordJobSeconds() const { return passwordSeconds; }

    // Runs the password and store jobs still queued or running to their end, for an orderly
    // exit.
    void waitForJobs();
    bool hasPendingJobs() const;

  private:
    // What a lookup found, and whether the store failed instead of finding nothing.
    struct Found {
        std::optional<Account> account;
        bool storeFailed = false;
        // A login's lookup: an operator's ban in force on the account or the address.
        std::optional<Ban> ban = {};
    };

    // Runs on the store's thread.
    Answer completeRegistration(Store& store, const QString& key, const QString& password,
                                const StoredPassword& hash);
    void completeLogin(const QString& address, const QString& name, quint32 accountId, bool matched,
                       const Waiter& waiter);
    Answer failLogin(const QString& address, const QString& name, const QString& why,
                     const char* outcome);
    void completePasswordChange(quint32 userId, const PasswordJobResult& result,
                                const Waiter& waiter);
    // A refusal for a store that failed, which says nothing about the client.
    static Answer storeFailure(const QString& what);
    // Runs work(store) on the store's thread, then then(result) on the event loop.
    template <class Work, class Then> void withStore(Work work, Then then);
    // Answers the waiter with the store's answer, if it is still there.
    void answerFromStore(std::function<Answer(Store&)> work, const Waiter& waiter);

    // The share of the password queue a client's address belongs to.
    QString queueKey(const QString& address) const;
    // Queues the job; done runs once it is done. False when the queue refused it.
    bool queuePasswordJob(const QString& address, const PasswordJob& job,
                          std::function<void(const PasswordJobResult&)> done);
    // Lifts the locks that unlock-account asked for, and takes its requests away.
    void takeUnlockRequests();

    const ServerConfig& config;
    StoreWorker& store;
    Outbox& outbox;
    AddressGuard& addressGuard;
    AccountGuard accountGuard;
    const StoredPassword unknownAccountPassword;
    QFileSystemWatcher unlockRequests;
    QTimer forgetTimer;
    QHash<QString, quint64> outcomes;
    // One PBKDF2 check takes some 20 ms on a free thread; a full queue waits seconds.
    Histogram passwordSeconds{{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30}};
    // Last member: destroyed first, so it waits for the jobs while the rest is intact.
    PasswordQueue passwordJobs;
};

// The request file that asks a running server to lift an account's lock, in its data folder.
QString unlockRequestFile(const QString& dataFolder, const QString& account);
