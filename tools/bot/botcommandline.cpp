// SPDX-License-Identifier: GPL-3.0-or-later
#include "botcommandline.h"

#include <QCommandLineParser>

namespace
{
bool toMs(const QString& seconds, int& ms)
{
    bool ok = false;
    const double value = seconds.toDouble(&ok);
    if (!ok || value < 0 || value > 86400)
        return false;
    ms = int(value * 1000);
    return true;
}

bool toNumber(const QString& text, quint32 low, quint32 high, quint32& number)
{
    bool ok = false;
    number = text.toUInt(&ok);
    return ok && number >= low && number <= high;
}
} // namespace

bool parseBotCommandLine(const QStringList& arguments, BotCommandLine& out, QString& error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A lobby player driven by a program: logs in, goes to a room and chats, greets, answers "
        "and plays matches there like a person would.\nIn --account, --password and --name, %1 "
        "becomes the connection's number (1 to N) when --connections is given.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption host("host", "Lobby server address (default 127.0.0.1).", "address",
                                  "127.0.0.1");
    const QCommandLineOption port("port", "Lobby server port (default 14142).", "port",
                                  QString::number(defaultLobbyPort));
    const QCommandLineOption account("account", "Account name (required).", "name");
    const QCommandLineOption password("password", "Account password (required).", "password");
    const QCommandLineOption name("name", "Handle name to take if it differs or is unset.", "name");
    const QCommandLineOption room("room", "Enter the existing room with this number or title.",
                                  "room");
    const QCommandLineOption createRoom("create-room", "Create a room with this title instead.",
                                        "title");
    const QCommandLineOption roomPassword("room-password", "Password of the room.", "password");
    const QCommandLineOption capacity("capacity",
                                      "Capacity of a created room, 2 to 100 "
                                      "(default 20).",
                                      "n", "20");
    const QCommandLineOption game("game", "Game id of a created room (default 0).", "id", "0");
    const QCommandLineOption chatOnly("chat-only", "Create a room for chat only.");
    const QCommandLineOption greet("greet", "Greet users who enter the room.");
    const QCommandLineOption chatInterval(
        "chat-interval", "Say a line about every this many seconds (0, the default: never).",
        "seconds", "0");
    const QCommandLineOption answer("answer", "Answer lines that contain its handle name.");
    const QCommandLineOption recruit("recruit",
                                     "Recruit a match and start it as soon as someone applies.");
    const QCommandLineOption apply("apply", "Apply to other users' recruitments.");
    const QCommandLineOption battle(
        "battle-seconds", "End its side of a match after this long (default 20).", "seconds", "20");
    const QCommandLineOption connections(
        "connections", "Run this many bots, one connection each (default 1).", "n", "1");
    const QCommandLineOption tls("tls", "Connect over TLS, checking the server's certificate.");
    const QCommandLineOption ca("ca", "PEM file of the CAs to check it against (implies --tls).",
                                "file");
    const QCommandLineOption quiet("quiet", "Log only failures.");
    parser.addOptions({host,     port,        tls,          ca,           account,  password,
                       name,     room,        createRoom,   roomPassword, capacity, game,
                       chatOnly, greet,       chatInterval, answer,       recruit,  apply,
                       battle,   connections, quiet});
    parser.process(arguments);

    BotSettings& settings = out.settings;
    settings.host = parser.value(host);
    settings.caFile = parser.value(ca);
    settings.tls = parser.isSet(tls) || parser.isSet(ca);
    settings.account = parser.value(account);
    settings.password = parser.value(password);
    settings.name = parser.value(name);
    settings.room = parser.value(room);
    settings.createTitle = parser.value(createRoom);
    settings.roomPassword = parser.value(roomPassword);
    settings.greet = parser.isSet(greet);
    settings.answer = parser.isSet(answer);
    settings.recruit = parser.isSet(recruit);
    settings.apply = parser.isSet(apply);
    settings.quiet = parser.isSet(quiet);

    const auto refuse = [&error](const char* why) {
        error = why;
        return false;
    };
    if (settings.account.isEmpty() || !parser.isSet(password))
        return refuse("--account and --password are required");
    if (!settings.room.isEmpty() && !settings.createTitle.isEmpty())
        return refuse("--room and --create-room exclude each other");
    quint32 number = 0;
    if (!toNumber(parser.value(port), 1, 65535, number))
        return refuse("--port must be 1 to 65535");
    settings.port = quint16(number);
    if (!toNumber(parser.value(capacity), 2, 100, settings.capacity))
        return refuse("--capacity must be 2 to 100");
    if (!toNumber(parser.value(game), 0, chatOnlyGameId - 1, settings.gameId))
        return refuse("--game must be a number");
    if (parser.isSet(chatOnly))
        settings.gameId = chatOnlyGameId;
    if (!toMs(parser.value(chatInterval), settings.chatIntervalMs) ||
        !toMs(parser.value(battle), settings.battleMs))
        return refuse("--chat-interval and --battle-seconds take seconds");
    if (!toNumber(parser.value(connections), 1, 100000, number))
        return refuse("--connections must be 1 to 100000");
    out.connections = int(number);
    return true;
}
