#pragma once

#include <QMap>
#include <QString>
#include <QVector>

// Smallest and largest number of players (host included) of a match of one game.
struct GameRule {
    quint32 minPlayers = 2;
    quint32 maxPlayers = 2;
};

// A room that exists from the start and stays when its last member leaves.
struct PermanentRoom {
    QString title;
    QString password;
    quint32 capacity = 100;
    quint32 gameId = 0xFFFFFFFFu;
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

    int passwordIterations = 100000;
    int registrationKeyHours = 72;
    QString mailFrom = "tileParlor <noreply@tileparlor.invalid>";

    QString database;
    int metricsIntervalSeconds = 60;

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
