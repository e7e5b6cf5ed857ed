// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

// Smallest and largest number of players (host included) of a match of one game.
struct GameRule {
    quint32 minPlayers = 2;
    quint32 maxPlayers = 2;

    bool operator==(const GameRule& other) const
    {
        return minPlayers == other.minPlayers && maxPlayers == other.maxPlayers;
    }
};

// A room that exists from the start and stays when its last member leaves.
struct PermanentRoom {
    QString title;
    QString password;
    quint32 capacity = 100;
    quint32 gameId = 0xFFFFFFFFu;

    bool operator==(const PermanentRoom& other) const
    {
        return title == other.title && password == other.password && capacity == other.capacity &&
               gameId == other.gameId;
    }
};

// Every policy and limit of the server, with the defaults it runs with when the configuration
// file does not name them.
struct ServerConfig {
    QString systemMessage;
    quint32 roomSlots = 200;
    int maxRoomsPerUser = 5;
    int maxUsers = 10000;

    int connectionsPerAddress = 32;
    int chatLinesPerSecond = 5;
    int roomCreationsPerMinute = 5;
    int failedLoginsPerMinute = 10;
    int loginBanSeconds = 300;
    int registrationMailsPerHour = 10;
    int sendQueueBytes = 256 * 1024;
    int helloTimeoutSeconds = 30;
    int closeLingerSeconds = 10;
    int connectionCountIntervalMs = 1000;

    // Limits against holding the server's resources. Connections, and the rooms their users
    // create and stay in, count per network: IPv4 addresses by this prefix, IPv6 by /64.
    int ipv4GroupPrefix = 24;
    int roomsPerAddress = 20;
    int connectionsBeforeLogin = 1000;
    // Long enough for a user who registers in the client's dialogs on this connection first.
    int loginTimeoutSeconds = 300;
    int partialFrameSeconds = 30;
    int refusalsPerMinute = 30;
    int refusalSummarySeconds = 60;

    int passwordIterations = 100000;
    int registrationKeyHours = 72;
    QString mailFrom = "tileParlor <noreply@tileparlor.invalid>";

    QString database;
    int metricsIntervalSeconds = 60;
    // Where GET /metrics is served ("PORT" on loopback, or "ADDRESS:PORT"); empty: nowhere.
    QString metricsListen;

    // TLS on the lobby's port beside the plain protocol, when both files are named; required,
    // plain connections get the hello's refusal. The files are read again on every reload.
    QString tlsCertificate;
    QString tlsKey;
    bool tlsRequired = false;
    // Named on the command line: a reload of the file does not change them.
    bool tlsFromCommandLine = false;

    // Logins under attack: the queue of password jobs, account locks, and account changes.
    int passwordThreads = 0; // 0: one per core
    int passwordJobsWaiting = 128;
    int passwordJobsPerAddress = 3;
    int lockAfterFailures = 5;
    int lockWindowSeconds = 300;
    int lockSeconds = 60;
    int maxLockSeconds = 3600;
    int accountChangesPerMinute = 5;
    // From the command line, not the file: where unlock-account leaves its requests.
    QString dataFolder;

    QMap<quint32, GameRule> games{{0, GameRule{}}};
    QVector<PermanentRoom> permanentRooms;
};

constexpr int minimumPasswordIterations = 100000;

// Reads an INI file over the defaults. A missing file leaves the defaults; a value out of its
// range is an error that names the key.
bool loadServerConfig(const QString& path, ServerConfig& config, QString& error);

// Why the TLS files named cannot work together, or empty.
QString tlsSettingsError(const ServerConfig& config);

// Takes over from a configuration read again what a running server can change. Returns the keys
// that the new one changes but that only a restart applies: for those the running values stay.
QStringList adoptLiveSettings(ServerConfig& running, const ServerConfig& read);
