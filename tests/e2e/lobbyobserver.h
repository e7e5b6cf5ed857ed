#pragma once

#include <QObject>
#include <QString>

class LobbyClient;

// Another user logged in beside the client under test, keeping what the server tells everyone.
// Its header stays free of the bot library's types, which share names with the test support's.
class LobbyObserver : public QObject
{
    Q_OBJECT

  public:
    LobbyObserver(quint16 port, const QString& account, const QString& password);

    bool isLoggedIn() const { return loggedIn; }
    QString systemMessage() const { return lastSystemMessage; }

  private:
    LobbyClient* client;
    bool loggedIn = false;
    QString lastSystemMessage;
};
