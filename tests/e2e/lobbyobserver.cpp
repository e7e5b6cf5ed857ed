#include "lobbyobserver.h"

#include "lobbyclient.h"

LobbyObserver::LobbyObserver(quint16 port, const QString& account, const QString& password)
    : client(new LobbyClient(this))
{
    connect(client, &LobbyClient::systemMessage, this,
            [this](const QString& text) { lastSystemMessage = text; });
    client->connectToServer("127.0.0.1", port);
    client->authenticate(account, password,
                         [this](const LoginReply& reply) { loggedIn = reply.result == 0; });
}
