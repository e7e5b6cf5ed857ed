// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "locallobbyserver.h"

#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

// The log of the server has the text, within the usual bound.
#define EXPECT_LOG(server, text) QTRY_VERIFY((server).log().contains(QString(text).toUtf8()))

struct TestDataFolder {
    QTemporaryDir data;
};

// The real server of a suite (SERVER_PROGRAM unless another is named) in a data folder of its
// own. Its accounts, of password "secret", are made one at a time so that their numbers follow
// the list; each handle name is the account name in capitals, and the first account administers.
class TestServer : public TestDataFolder, public LocalLobbyServer
{
  public:
    explicit TestServer(const QString& program = SERVER_PROGRAM)
        : LocalLobbyServer(program, data.path())
    {
    }

    bool launch(const QByteArray& ini, const QStringList& accounts)
    {
        QString error;
        bool done = writeConfig(ini);
        for (const QString& name : accounts)
            done = done && createAccounts(
                               {{name, "secret", name.toUpper(), {}, name == accounts[0]}}, error);
        done = done && start(error);
        if (!done)
            qWarning().noquote() << error;
        return done;
    }

    // Connections the log shows as opened and not yet closed.
    int connections()
    {
        const QByteArray text = log();
        return int(text.count(" opened") - text.count(" closed: "));
    }

    // Runs the step, then waits until the log has the text once more than before.
    template <class Step> bool logsAfter(const QByteArray& text, Step step)
    {
        const qsizetype before = log().count(text);
        return step() && QTest::qWaitFor([&] { return log().count(text) > before; }, 10000);
    }

    // Sends SIGHUP and waits for the answer in the log. A server that has died has pid 0, and
    // kill(0) would reach this whole process group.
    bool hangUp(const QByteArray& answer)
    {
        return logsAfter(answer, [this] { return pid() > 0 && ::kill(pid_t(pid()), SIGHUP) == 0; });
    }
};
