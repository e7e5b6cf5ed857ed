// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lobbymessages.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class QTcpSocket;

// A room's answer to GetRoomInfo together with the number it was asked for, which the answer
// itself does not carry.
struct RoomInfo : RoomInfoReply {
    quint32 roomId = 0;
};

// A lobby connection driven by a program instead of a person. Requests are queued and sent one
// command at a time; each reply reaches the callback given with its request, which may be empty
// when the answer does not matter. Notifications become signals. Connect to the signals directly
// (not queued): a room event's text lives only as long as its emission. Delete a client with
// deleteLater(), never from its own callbacks.
class LobbyClient : public QObject
{
    Q_OBJECT

  public:
    enum CloseReason {
        NormalClose = CloseNormal,
        ServerShutdown = CloseServerShutdown,
        DuplicateLogin = CloseDuplicateLogin,
        VersionMismatch = CloseVersionMismatch,
        ConnectionError, // refused, reset, or a close notice with an unknown reason
        ProtocolError,   // the server sent something the protocol does not allow
    };
    Q_ENUM(CloseReason)

    using ResultCallback = std::function<void(quint32 result)>;

    explicit LobbyClient(QObject* parent = nullptr);
    ~LobbyClient() override;

    // The next connection goes over TLS, the server's certificate checked against the CAs of
    // caFile (empty: the system's).
    void useTls(const QString& caFile)
    {
        tls = true;
        tlsCaFile = caFile;
    }
    // Connects and sends the hello; requests made before the hello is answered wait for it.
    // A source address, when given, is the local address the connection comes from.
    void connectToServer(const QString& host, quint16 port, const QHostAddress& source = {});
    bool isOpen() const { return state == State::Open; }
    bool isClosed() const { return state == State::Closed; }
    // What ended the connection, for logs.
    QString closeDetail() const { return detail; }
    // Commands queued or out, for tests and load drivers.
    int pendingCommands() const { return int(commands.size()); }

    // Requests whose text does not fit in one frame return false and send nothing.
    bool authenticate(const QString& account, const QString& password,
                      std::function<void(const LoginReply&)> done);
    void getName(quint32 userId, std::function<void(quint32 result, const QString& name)> done);
    void getCount(std::function<void(quint32 roomCount)> done);
    void getRoomInfo(quint32 roomId, std::function<void(const RoomInfo&)> done);
    // Every existing room, walked from number 0 as one chained command.
    void listRooms(std::function<void(const QVector<RoomInfo>&)> done);
    bool createRoom(const QString& title, const QString& password, quint32 capacity, quint32 gameId,
                    std::function<void(quint32 roomId)> done);
    // The members arrive only with result 0; the entering user is one of them.
    bool enterRoom(quint32 roomId, const QString& password,
                   std::function<void(quint32 result, const QVector<quint32>& members)> done);
    void leaveRoom(quint32 roomId, ResultCallback done);
    void recruitMatch(quint32 roomId, ResultCallback done);
    void cancelRecruit(quint32 roomId, ResultCallback done);
    void applyMatch(quint32 roomId, quint32 hostId, ResultCallback done);
    void cancelApply(quint32 roomId, ResultCallback done);
    void startBattle(quint32 roomId, ResultCallback done);
    void endBattle(quint32 roomId, ResultCallback done);
    void dropBattle(quint32 roomId, ResultCallback done);

    // One-way messages, sent at once even while a command is out.
    bool speak(quint32 roomId, QStringView text);
    bool setName(const QString& name);
    // Asks the server to end the connection; closed(NormalClose) follows its close notice.
    // Before the hello has been answered there is nobody to ask, and the socket is dropped.
    void quit();

  signals:
    void connected();
    void roomEvent(const RoomEventFields& event);
    void connectionCountChanged(quint32 count);
    void systemMessage(const QString& text);
    // Emitted once, whatever ended the connection.
    void closed(LobbyClient::CloseReason reason);

  private:
    enum class State { Unconnected, Hello, Open, Closed };
    // Reads one reply packet; true when the command has all of its reply.
    using ReplyHandler = std::function<bool(FieldReader&)>;
    struct Command {
        quint32 code;
        QByteArray frame; // empty once sent
        ReplyHandler onReply;
    };

    // Sends the command, or queues it behind the one out, unless the client is closed; false,
    // and nothing sent, when its text does not fit in one frame.
    template <class Request> bool command(const Request& request, ReplyHandler onReply);
    void sendNextCommand();
    template <class Request> bool message(const Request& request);
    void write(const char* data, qsizetype size);

    void readFrames();
    void handleFrame(const char* payload, qsizetype size);
    void handleHello(quint32 result);
    void handleReply(FieldReader& fields);
    void handleNotification(FieldReader& fields);
    void handleSocketEnd();
    // Drops the connection from this side.
    void fail(CloseReason reason, const QString& why);
    // Marks the connection ended and tells the owner, once.
    void end(CloseReason reason, const QString& why);

    void sendHello();

    bool tls = false;
    QString tlsCaFile;
    QTcpSocket* socket = nullptr;
    State state = State::Unconnected;
    QString detail;
    QList<Command> commands; // the first one is out when commandOut
    bool commandOut = false;
    char frameBuffer[lengthPrefix + maxPayload];
};
