// SPDX-License-Identifier: GPL-3.0-or-later
#include "loadworker.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace
{
// Logins or connections in flight at once: enough to keep the server's password workers busy
// without overflowing its listen queue.
constexpr int loginWindow = 32;
constexpr int holdWindow = 128;
// Lines said in the first second of a step only let the rate settle; they are not counted.
constexpr qint64 warmUpMs = 1000;

qint64 cpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& time) {
        return qint64(time.tv_sec) * 1000 + time.tv_usec / 1000;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

QString account(int number)
{
    return QString("bench%1").arg(number);
}

QString password(int number)
{
    return QString("pw%1").arg(number);
}
} // namespace

LoadWorker::LoadWorker(const Plan& plan)
    : plan(plan), input(new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this))
{
    connect(input, &QSocketNotifier::activated, this, &LoadWorker::readCommands);
    connect(&speakTimer, &QTimer::timeout, this, &LoadWorker::speakDue);
    speakTimer.setTimerType(Qt::PreciseTimer);
}

void LoadWorker::start()
{
    if (plan.mode == "login")
        nextLogin();
    else if (plan.mode == "chat")
        logInMore();
    else if (plan.mode == "hold")
        hold();
    else
        fail("unknown mode " + plan.mode);
}

LobbyClient* LoadWorker::newClient()
{
    auto* client = new LobbyClient(this);
    if (!plan.tlsCa.isEmpty())
        client->useTls(plan.tlsCa);
    connect(client, &LobbyClient::closed, this, [this, client](LobbyClient::CloseReason reason) {
        ++closedCount;
        if (!quitting && plan.mode != "login")
            fail(QString("connection lost (%1): %2").arg(reason).arg(client->closeDetail()));
        if (quitting && closedCount == clients.size())
            emit finished(0);
    });
    client->connectToServer("127.0.0.1", plan.port);
    return client;
}

void LoadWorker::say(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void LoadWorker::fail(const QString& why)
{
    say("error " + why.toUtf8());
    emit finished(1);
}

void LoadWorker::readCommands()
{
    char buffer[4096];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
        input->setEnabled(false);
        quitAll();
        return;
    }
    pendingInput.append(buffer, got);
    qsizetype end;
    while ((end = pendingInput.indexOf('\n')) >= 0) {
        const QByteArray line = pendingInput.left(end).trimmed();
        pendingInput.remove(0, end + 1);
        command(line);
    }
}

void LoadWorker::command(const QByteArray& line)
{
    const QList<QByteArray> words = line.split(' ');
    if (words.value(0) == "step" && words.size() == 3)
        startStep(words[1].toDouble(), words[2].toInt());
    else if (words.value(0) == "quit")
        quitAll();
}

void LoadWorker::quitAll()
{
    if (quitting)
        return;
    quitting = true;
    speakTimer.stop();
    for (LobbyClient* client : std::as_const(clients))
        client->quit();
    if (closedCount == clients.size())
        emit finished(0);
}

void LoadWorker::nextLogin()
{
    if (launched == plan.count) {
        say("logins " + loginTimes.encode() + ' ' + helloTimes.encode());
        emit finished(0);
        return;
    }
    const int number = plan.first + launched++;
    const qint64 connectNs = monotonicNs();
    LobbyClient* client = newClient();
    connect(client, &LobbyClient::connected, this, [this, client, number, connectNs] {
        loginStartNs = monotonicNs();
        helloTimes.add(loginStartNs - connectNs);
        client->authenticate(account(number), password(number),
                             [this, client](const LoginReply& reply) {
                                 loginTimes.add(monotonicNs() - loginStartNs);
                                 if (reply.result != 0) {
                                     fail("login refused");
                                     return;
                                 }
                                 client->quit();
                             });
    });
    connect(client, &LobbyClient::closed, this, [this, client] {
        client->deleteLater();
        nextLogin();
    });
}

void LoadWorker::logInMore()
{
    while (launched < plan.count && launched - arrived < loginWindow) {
        const int number = plan.first + launched++;
        LobbyClient* client = newClient();
        clients.append(client);
        client->authenticate(account(number), password(number), [this](const LoginReply& reply) {
            if (reply.result != 0)
                fail("login refused");
            else
                loggedIn();
        });
        connect(client, &LobbyClient::roomEvent, this, &LoadWorker::heard);
    }
}

void LoadWorker::loggedIn()
{
    if (++arrived < plan.count) {
        logInMore();
        return;
    }
    clients.first()->listRooms([this](const QVector<RoomInfo>& rooms) { enterRooms(rooms); });
}

void LoadWorker::enterRooms(const QVector<RoomInfo>& rooms)
{
    if (rooms.size() < plan.rooms) {
        fail(QString("%1 rooms, not %2").arg(rooms.size()).arg(plan.rooms));
        return;
    }
    // Account n goes to room n mod rooms, so that every room mixes users of every worker.
    auto entered = std::make_shared<int>(0);
    for (int i = 0; i < clients.size(); ++i) {
        const quint32 roomId = rooms[(plan.first + i) % plan.rooms].roomId;
        roomOf.append(roomId);
        clients[i]->enterRoom(roomId, "", [this, entered](quint32 result, auto&) {
            if (result != 0)
                fail(QString("entry refused (%1)").arg(result));
            else if (++*entered == clients.size())
                say("ready");
        });
    }
}

void LoadWorker::hold()
{
    while (launched < plan.count && launched - arrived < holdWindow) {
        ++launched;
        LobbyClient* client = newClient();
        clients.append(client);
        connect(client, &LobbyClient::connected, this, [this] {
            if (++arrived == plan.count)
                say("ready");
            else
                hold();
        });
    }
}

void LoadWorker::startStep(double ratePerUser, int seconds)
{
    linesPerMs = ratePerUser * clients.size() / 1000.0;
    stepMs = qint64(seconds) * 1000;
    sent = 0;
    delivered = 0;
    latencies.clear();
    stepCpuMs = cpuMs();
    windowStartNs = monotonicNs() + warmUpMs * 1000000;
    stepClock.start();
    speakTimer.start(2);
}

void LoadWorker::speakDue()
{
    const qint64 elapsed = stepClock.elapsed();
    if (elapsed >= stepMs) {
        endStep();
        return;
    }
    // Catch up to the rate, whatever the timer's jitter was, one user after another.
    const qint64 due = qint64(linesPerMs * double(elapsed));
    while (sent < due) {
        const int user = nextSpeaker++ % int(clients.size());
        clients[user]->speak(roomOf[user], QString::number(monotonicNs()));
        ++sent;
    }
}

void LoadWorker::heard(const RoomEventFields& event)
{
    if (event.eventKind != EventSpeak || !stepClock.isValid() || stepClock.elapsed() >= stepMs)
        return;
    // Only lines said within the measured window count, so that a backlog from before it
    // cannot lift the figure above what the server delivers while the rate holds.
    const qint64 saidNs = event.utf8Text.toLongLong();
    if (saidNs < windowStartNs)
        return;
    ++delivered;
    latencies.add(monotonicNs() - saidNs);
}

void LoadWorker::endStep()
{
    speakTimer.stop();
    say(QString("step sent=%1 delivered=%2 windowMs=%3 cpuMs=%4 latency=")
            .arg(sent)
            .arg(delivered)
            .arg(stepMs - warmUpMs)
            .arg(cpuMs() - stepCpuMs)
            .toUtf8() +
        latencies.encode());
}
