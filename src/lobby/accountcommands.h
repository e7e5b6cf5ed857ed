// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

class LobbyCore;

// The requests about the account and the user's settings. A command holds the window that asked
// (through its setEnabled(bool) slot) until its reply has been read; the changes of name and mail
// address and the global message are messages, which the server does not answer.
class AccountCommands : public QObject
{
    Q_OBJECT

  public:
    explicit AccountCommands(LobbyCore& core) : core(core) {}

    void setName(const QString& name);
    void setMail(const QString& mail);
    void sendGlobalMessage(const QString& text);
    // The server's answer to Quit ends the program.
    void quit();

    void setPassword(QObject* holder, const QString& current, const QString& next);
    void registerMail(QObject* holder, const QString& address);
    void registerKey(QObject* holder, const QString& key);
    void requestName(QObject* holder, uint userId);
    void requestMail(QObject* holder);

  signals:
    void passwordReplied(quint32 result);
    void mailRegistered(quint32 result);
    void keyRegistered(quint32 result);
    void nameReplied(quint32 result, const QString& name);
    void mailReplied(const QString& mail);

  private slots:
    void doRecvPasswordReply() { emit passwordReplied(readResult()); }
    void doRecvRegisterMailReply() { emit mailRegistered(readResult()); }
    void doRecvRegisterKeyReply() { emit keyRegistered(readResult()); }
    void doRecvNameReply();
    void doRecvMailReply();

  private:
    template <class Request>
    void sendCommand(QObject* holder, const char* replySlot, const Request& request);
    template <class Request> void sendMessage(const Request& request);
    quint32 readResult();

    LobbyCore& core;
};
