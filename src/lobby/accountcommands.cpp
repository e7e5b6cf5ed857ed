// SPDX-License-Identifier: GPL-3.0-or-later
#include "lobby/accountcommands.h"

#include "lobby/lobbycore.h"
#include "lobbymessages.h"
#include "lobbyrequests.h"

template <class Request>
void AccountCommands::sendCommand(QObject* holder, const char* replySlot, const Request& request)
{
    ProtocolSocket* socket = core.socket();
    socket->beginCommand(this, replySlot, holder, SLOT(setEnabled(bool)));
    socket->write(request);
    socket->sendCommand();
}

template <class Request> void AccountCommands::sendMessage(const Request& request)
{
    ProtocolSocket* socket = core.socket();
    socket->beginMessage();
    socket->write(request);
    socket->sendMessage();
}

quint32 AccountCommands::readResult()
{
    ProtocolSocket* socket = core.socket();
    socket->prepareRecvReply(true);
    const quint32 result = socket->read<ResultReply>().result;
    socket->endCommand();
    return result;
}

void AccountCommands::setName(const QString& name)
{
    sendMessage(SetNameRequest{name});
}

void AccountCommands::setMail(const QString& mail)
{
    sendMessage(SetMailRequest{mail});
}

void AccountCommands::sendGlobalMessage(const QString& text)
{
    sendMessage(GlobalMessageRequest{text});
}

void AccountCommands::quit()
{
    core.socket()->sendQuit();
}

void AccountCommands::setPassword(QObject* holder, const QString& current, const QString& next)
{
    sendCommand(holder, SLOT(doRecvPasswordReply()), SetPasswordRequest{current, next});
}

void AccountCommands::registerMail(QObject* holder, const QString& address)
{
    sendCommand(holder, SLOT(doRecvRegisterMailReply()), RegisterMailRequest{address});
}

void AccountCommands::registerKey(QObject* holder, const QString& key)
{
    sendCommand(holder, SLOT(doRecvRegisterKeyReply()), RegisterKeyRequest{key});
}

void AccountCommands::requestName(QObject* holder, uint userId)
{
    sendCommand(holder, SLOT(doRecvNameReply()), GetNameRequest{userId});
}

void AccountCommands::doRecvNameReply()
{
    ProtocolSocket* socket = core.socket();
    socket->prepareRecvReply(true);
    const auto reply = socket->read<NameReply>();
    socket->endCommand();
    emit nameReplied(reply.result, reply.name);
}

void AccountCommands::requestMail(QObject* holder)
{
    sendCommand(holder, SLOT(doRecvMailReply()), GetMailRequest{});
}

void AccountCommands::doRecvMailReply()
{
    ProtocolSocket* socket = core.socket();
    socket->prepareRecvReply(true);
    const QString mail = socket->read<MailReply>().mail;
    socket->endCommand();
    emit mailReplied(mail);
}
