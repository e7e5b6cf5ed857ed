#pragma once

#include "passwords.h"

#include <QByteArrayView>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <functional>

class Connection;
class Lobby;
class AddressGuard;
class Outbox;
class PayloadReader;
class Store;
struct Account;
struct LobbyUser;
struct ServerConfig;

// Reads each request, checks it and answers it: one handler per request code, found in one
// table that also says whether the request needs a login and whether it is a command (one
// reply, and no second command before it).
class RequestDispatcher : public QObject
{
    Q_OBJECT

  public:
    RequestDispatcher(Lobby& lobby, Store& store, Outbox& outbox, AddressGuard& addressGuard);
    ~RequestDispatcher() override;

    void dispatch(Connection& connection, QByteArrayView payload);
    // A connection ended: its user leaves the lobby.
    void connectionEnded(Connection& connection);
    // Waits for the password work in flight, for an orderly exit.
    void waitForJobs();
    bool hasPendingJobs() const { return !pendingJobs.isEmpty(); }

  private:
    using Handler = void (RequestDispatcher::*)(Connection&, PayloadReader&);
    struct Entry {
        Handler handler = nullptr;
        bool needsLogin = true;
        bool command = true;
    };
    using JobDone = std::function<void(Connection*, const PasswordJobResult&)>;
    struct PendingJob {
        QPointer<Connection> connection;
        JobDone done;
    };

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

    void completeRegistration(Connection* connection, const QString& key, const QString& password,
                              const StoredPassword& hash);
    void completeLogin(Connection& connection, quint32 accountId, bool matched);
    void failLogin(Connection& connection, const QString& why);
    void refuseLogin(Connection& connection, const QString& why);
    void completePasswordChange(Connection& connection, const PasswordJobResult& result);

    LobbyUser& currentUser(Connection& connection);
    void reply(Connection& connection, quint32 result);
    void refuse(Connection& connection, quint32 result, const QString& why);
    // Answers a lobby change: 0 when it was made, 1 with a log line when it was refused.
    void answer(Connection& connection, const QString& refusal);

    // Runs the hash off the event loop; the connection's command stays open until done runs.
    void startPasswordJob(Connection& connection, const PasswordJob& job, JobDone done);
    void finishPasswordJob(quint64 ticket, const PasswordJobResult& result);

    Lobby& lobby;
    Store& store;
    Outbox& outbox;
    AddressGuard& addressGuard;
    const ServerConfig& config;
    QHash<quint64, PendingJob> pendingJobs;
    quint64 lastTicket = 0;
    // Last member: destroyed first, so it waits for the jobs while the rest is intact.
    QThreadPool pool;
};
