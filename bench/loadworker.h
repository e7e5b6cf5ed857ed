// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "latencyhistogram.h"
#include "lobbyclient.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVector>

class QSocketNotifier;

// One load process of the server benchmark. The coordinator starts it with a plan and talks to
// it in lines: the worker says "ready" when its connections are in place and answers each
// "step RATE SECONDS" with what it sent and heard; "quit" or the end of stdin ends it.
//   login: logs accounts in one after another and reports each login's round trip, and the
//          time from connecting to the hello's answer (a TLS handshake included);
//   chat:  logs its users in, puts them in the rooms, then chats at the rates it is told;
//   hold:  opens connections, passes the hello and holds them.
class LoadWorker : public QObject
{
    Q_OBJECT

  public:
    struct Plan {
        QString mode;
        quint16 port = 0;
        int first = 1; // number of the first account, bench<first>
        int count = 0;
        int rooms = 0;
        QString tlsCa; // empty: plain connections
    };

    explicit LoadWorker(const Plan& plan);
    void start();

  signals:
    void finished(int exitCode);

  private:
    LobbyClient* newClient();
    void say(const QByteArray& line);
    void readCommands();
    void command(const QByteArray& line);
    void fail(const QString& why);
    void quitAll();

    void nextLogin();
    void logInMore();
    void loggedIn();
    void enterRooms(const QVector<RoomInfo>& rooms);
    void hold();

    void startStep(double ratePerUser, int seconds);
    void speakDue();
    void heard(const RoomEventFields& event);
    void endStep();

    Plan plan;
    QVector<LobbyClient*> clients;
    QSocketNotifier* input;
    QByteArray pendingInput;
    int launched = 0;
    int arrived = 0;
    int closedCount = 0;
    bool quitting = false;

    QVector<quint32> roomOf;
    QElapsedTimer stepClock;
    QTimer speakTimer;
    double linesPerMs = 0;
    qint64 stepMs = 0;
    qint64 windowStartNs = 0;
    qint64 stepCpuMs = 0;
    qint64 sent = 0;
    qint64 delivered = 0; // lines said and heard within the measured window
    int nextSpeaker = 0;
    LatencyHistogram latencies;
    LatencyHistogram loginTimes;
    LatencyHistogram helloTimes; // connect, TLS handshake if any, hello answered
    qint64 loginStartNs = 0;
};
