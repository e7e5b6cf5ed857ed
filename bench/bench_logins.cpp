// SPDX-License-Identifier: GPL-3.0-or-later
// Measures a real user's login while others guess passwords: the attackers, each on a
// connection from a loopback network of its own (127.0.1.10, 127.0.2.10, ...), log in with a wrong
// password again and again, each as soon as its last try was answered; meanwhile the user logs
// in from 127.0.0.2, one login after another, and the time from Authenticate to its reply is
// taken. The server's failed-login limits are raised so that the guessing goes on throughout:
// the figures are those of the password queue, not of the bans. Prints figures; it is not a
// test. Run with --help for the knobs.
#include "lobbyclient.h"
#include "locallobbyserver.h"
#include "waituntil.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace
{
void print(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// The attackers and the number of their guesses answered so far.
struct Attack {
    std::vector<std::unique_ptr<LobbyClient>> clients;
    qint64 answered = 0;
    bool stopping = false;

    void guess(LobbyClient* client, int number)
    {
        client->authenticate(QString("victim%1").arg(number), "wrong",
                             [this, client, number](const LoginReply&) {
                                 ++answered;
                                 if (!stopping)
                                     guess(client, number);
                             });
    }

    void start(quint16 port, int count)
    {
        for (int i = 0; i < count; ++i) {
            auto client = std::make_unique<LobbyClient>();
            // Limits per address count networks (/24): one attacker in each.
            const quint32 network = quint32(i + 1) << 8;
            client->connectToServer("127.0.0.1", port, QHostAddress(0x7F00000Au + network));
            guess(client.get(), i);
            clients.push_back(std::move(client));
        }
    }
};

// One login of the user on a new connection: ms from Authenticate to its reply; -1 if refused
// or not answered within the time left.
double timedLogin(quint16 port, int timeoutMs)
{
    LobbyClient user;
    QElapsedTimer clock;
    double ms = -1;
    bool done = false;
    QObject::connect(&user, &LobbyClient::connected, [&] {
        clock.start();
        user.authenticate("user", "secret", [&](const LoginReply& reply) {
            ms = reply.result == 0 ? clock.nsecsElapsed() / 1e6 : -1;
            done = true;
        });
    });
    QObject::connect(&user, &LobbyClient::closed, [&] { done = true; });
    user.connectToServer("127.0.0.1", port, QHostAddress("127.0.0.2"));
    waitUntil([&] { return done; }, timeoutMs);
    return ms;
}

double percentile(QList<double> values, double fraction)
{
    std::sort(values.begin(), values.end());
    return values.value(qMin(values.size() - 1, int(fraction * values.size())));
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription("A user's login while others guess passwords, over loopback.");
    parser.addHelpOption();
    const QCommandLineOption server("server", "The server to measure.", "program", SERVER_PROGRAM);
    const QCommandLineOption attackers("attackers", "Guessing connections (40).", "n", "40");
    const QCommandLineOption logins("logins", "The user's logins (30).", "n", "30");
    const QCommandLineOption limits("keep-limits",
                                    "Keep the server's failed-login limits (bans, locks).");
    parser.addOptions({server, attackers, logins, limits});
    parser.process(app);
    const int attackerCount = qBound(0, parser.value(attackers).toInt(), 200);
    const int loginCount = qBound(1, parser.value(logins).toInt(), 1000);

    QTemporaryDir data;
    LocalLobbyServer lobby(parser.value(server), data.path());
    QVector<LobbyAccount> accounts{{"user", "secret", "ユーザー"}};
    for (int i = 0; i < attackerCount; ++i)
        accounts.append({QString("victim%1").arg(i), "secret", "被害者"});
    const QByteArray ini = parser.isSet(limits) ? QByteArray()
                                                : "[limits]\nfailedLoginsPerMinute=1000000\n"
                                                  "[accounts]\nlockAfterFailures=1000000\n";
    QString error;
    if (!lobby.writeConfig(ini) || !lobby.createAccounts(accounts, error) || !lobby.start(error)) {
        print("server not started: " + error);
        return 1;
    }
    print(QString("server %1, pid %2; %3 attackers, %4 logins of the user")
              .arg(parser.value(server))
              .arg(lobby.pid())
              .arg(attackerCount)
              .arg(loginCount));

    Attack attack;
    attack.start(lobby.port(), attackerCount);
    // Until every attacker has had a few answers: the queue is as full as they keep it.
    waitUntil([&] { return attack.answered >= 3 * attackerCount; }, 60000);
    const qint64 answeredBefore = attack.answered;
    QElapsedTimer clock;
    clock.start();
    QList<double> times;
    int failed = 0;
    for (int i = 0; i < loginCount; ++i) {
        const double ms = timedLogin(lobby.port(), 60000);
        if (ms < 0)
            ++failed;
        else
            times.append(ms);
    }
    const double seconds = clock.elapsed() / 1000.0;
    print(QString("guesses answered: %1/s")
              .arg((attack.answered - answeredBefore) / seconds, 0, 'f', 1));
    if (!times.isEmpty())
        print(QString("user's login (Authenticate to its reply, %1 in %2 s): p50 %3 ms, p99 %4 "
                      "ms, max %5 ms; %6 refused or unanswered")
                  .arg(times.size())
                  .arg(seconds, 0, 'f', 1)
                  .arg(percentile(times, 0.5), 0, 'f', 0)
                  .arg(percentile(times, 0.99), 0, 'f', 0)
                  .arg(percentile(times, 1.0), 0, 'f', 0)
                  .arg(failed));
    attack.stopping = true;
    attack.clients.clear();
    const int code = lobby.stop();
    print(QString("server stopped with exit code %1").arg(code));
    return code == 0 && failed == 0 ? 0 : 1;
}
