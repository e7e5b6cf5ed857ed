// SPDX-License-Identifier: GPL-3.0-or-later
#include "serverconfig.h"

#include "lobbywire.h"
#include "textchecks.h"

#include <QFileInfo>
#include <QSettings>

namespace
{

class ConfigReader
{
  public:
    explicit ConfigReader(const QString& path) : settings(path, QSettings::IniFormat) {}

    QSettings settings;
    QString error;

    void number(const QString& key, int& value, int minimum, int maximum)
    {
        if (!settings.contains(key) || !error.isEmpty())
            return;
        bool ok = false;
        const int read = settings.value(key).toString().toInt(&ok);
        if (!ok || read < minimum || read > maximum) {
            error = QString("%1 must be a whole number from %2 to %3")
                        .arg(key)
                        .arg(minimum)
                        .arg(maximum);
            return;
        }
        value = read;
    }

    void number(const QString& key, quint32& value, int minimum, int maximum)
    {
        int read = int(value);
        number(key, read, minimum, maximum);
        value = quint32(read);
    }

    // QSettings splits unquoted values at commas; a text is taken back whole.
    void text(const QString& key, QString& value)
    {
        if (!settings.contains(key))
            return;
        const QVariant read = settings.value(key);
        value = read.typeId() == QMetaType::QStringList ? read.toStringList().join(", ")
                                                        : read.toString();
    }

    void flag(const QString& key, bool& value)
    {
        if (!settings.contains(key) || !error.isEmpty())
            return;
        const QString read = settings.value(key).toString().toLower();
        if (read == "true" || read == "false")
            value = read == "true";
        else
            error = key + " must be true or false";
    }

    void gameId(const QString& key, quint32& value)
    {
        QString read;
        text(key, read);
        if (read.isEmpty() || read == "chat") {
            value = chatOnlyGameId;
            return;
        }
        bool ok = false;
        value = read.toUInt(&ok);
        if (!ok && error.isEmpty())
            error = key + " must be a game number or \"chat\"";
    }
};

void readGames(ConfigReader& reader, ServerConfig& config)
{
    for (const QString& group : reader.settings.childGroups()) {
        if (!group.startsWith("game"))
            continue;
        bool ok = false;
        const quint32 id = group.mid(4).toUInt(&ok);
        if (!ok || id == chatOnlyGameId) {
            reader.error = "unknown group [" + group + "]: games are [game0], [game1], ...";
            return;
        }
        GameRule rule;
        reader.number(group + "/minPlayers", rule.minPlayers, 2, 100);
        reader.number(group + "/maxPlayers", rule.maxPlayers, 2, 100);
        if (rule.minPlayers > rule.maxPlayers && reader.error.isEmpty())
            reader.error = group + "/minPlayers exceeds maxPlayers";
        config.games.insert(id, rule);
    }
}

void readRooms(ConfigReader& reader, ServerConfig& config)
{
    const int count = reader.settings.beginReadArray("rooms");
    for (int i = 0; i < count && reader.error.isEmpty(); ++i) {
        reader.settings.setArrayIndex(i);
        const QString at = QString("rooms/%1/").arg(i + 1);
        PermanentRoom room;
        reader.text("title", room.title);
        reader.text("password", room.password);
        int capacity = int(room.capacity);
        reader.number("capacity", capacity, 2, 1000000);
        room.capacity = quint32(capacity);
        reader.gameId("gameId", room.gameId);
        if (!reader.error.isEmpty())
            reader.error.prepend(at);
        else if (room.title.isEmpty() || !checkUtf8Length(room.title, TextLimit::roomTitle))
            reader.error = at + "title must be 1 to 143 bytes";
        else if (!roomPasswordFits(room.password))
            reader.error = at + "password must be at most 8 characters and 35 bytes";
        else if (room.gameId != chatOnlyGameId && !config.games.contains(room.gameId))
            reader.error = at + "gameId names no configured game";
        config.permanentRooms.append(room);
    }
    reader.settings.endArray();
    if (reader.error.isEmpty() && quint32(config.permanentRooms.size()) > config.roomSlots)
        reader.error = "more permanent rooms than lobby/roomSlots";
}

} // namespace

QString tlsSettingsError(const ServerConfig& config)
{
    if (config.tlsCertificate.isEmpty() != config.tlsKey.isEmpty())
        return "TLS needs both tls/certificate and tls/key (or --tls-cert and --tls-key)";
    return {};
}

bool loadServerConfig(const QString& path, ServerConfig& config, QString& error)
{
    if (!QFileInfo::exists(path))
        return true;
    ConfigReader reader(path);
    if (reader.settings.status() != QSettings::NoError) {
        error = "cannot read " + path;
        return false;
    }
    reader.text("lobby/systemMessage", config.systemMessage);
    if (!checkUtf8Length(config.systemMessage, TextLimit::globalMessage))
        reader.error = "lobby/systemMessage must be shorter than 288 bytes";
    reader.number("lobby/roomSlots", config.roomSlots, 1, 100000);
    reader.number("lobby/maxRoomsPerUser", config.maxRoomsPerUser, 1, 1000);
    reader.number("lobby/maxUsers", config.maxUsers, 1, 1000000);
    reader.number("limits/connectionsPerAddress", config.connectionsPerAddress, 1, 1000000);
    reader.number("limits/chatLinesPerSecond", config.chatLinesPerSecond, 1, 1000000);
    reader.number("limits/roomCreationsPerMinute", config.roomCreationsPerMinute, 1, 1000000);
    reader.number("limits/failedLoginsPerMinute", config.failedLoginsPerMinute, 1, 1000000);
    reader.number("limits/loginBanSeconds", config.loginBanSeconds, 1, 86400 * 30);
    reader.number("limits/registrationMailsPerHour", config.registrationMailsPerHour, 1, 1000000);
    reader.number("limits/sendQueueBytes", config.sendQueueBytes, 4096, 1 << 30);
    reader.number("limits/helloTimeoutSeconds", config.helloTimeoutSeconds, 1, 86400);
    reader.number("limits/closeLingerSeconds", config.closeLingerSeconds, 1, 3600);
    reader.number("limits/connectionCountIntervalMs", config.connectionCountIntervalMs, 0, 600000);
    reader.number("limits/ipv4GroupPrefix", config.ipv4GroupPrefix, 8, 32);
    reader.number("lobby/roomsPerAddress", config.roomsPerAddress, 1, 100000);
    reader.number("limits/connectionsBeforeLogin", config.connectionsBeforeLogin, 1, 1000000);
    reader.number("limits/loginTimeoutSeconds", config.loginTimeoutSeconds, 1, 86400);
    reader.number("limits/partialFrameSeconds", config.partialFrameSeconds, 1, 3600);
    reader.number("limits/refusalsPerMinute", config.refusalsPerMinute, 1, 1000000);
    reader.number("log/refusalSummarySeconds", config.refusalSummarySeconds, 1, 86400);
    reader.number("accounts/passwordIterations", config.passwordIterations,
                  minimumPasswordIterations, 100000000);
    reader.number("accounts/registrationKeyHours", config.registrationKeyHours, 1, 24 * 365);
    reader.text("mail/from", config.mailFrom);
    if (hasControlCharacters(config.mailFrom))
        reader.error = "mail/from must not hold control characters";
    reader.text("database/url", config.database);
    reader.number("log/metricsIntervalSeconds", config.metricsIntervalSeconds, 1, 86400);
    reader.text("metrics/listen", config.metricsListen);
    reader.text("tls/certificate", config.tlsCertificate);
    reader.text("tls/key", config.tlsKey);
    reader.flag("tls/required", config.tlsRequired);
    reader.number("accounts/passwordThreads", config.passwordThreads, 0, 256);
    reader.number("accounts/passwordJobsWaiting", config.passwordJobsWaiting, 1, 100000);
    reader.number("accounts/passwordJobsPerAddress", config.passwordJobsPerAddress, 1, 1000);
    reader.number("accounts/lockAfterFailures", config.lockAfterFailures, 1, 1000000);
    reader.number("accounts/lockWindowSeconds", config.lockWindowSeconds, 1, 86400);
    reader.number("accounts/lockSeconds", config.lockSeconds, 1, 86400);
    reader.number("accounts/maxLockSeconds", config.maxLockSeconds, 1, 86400 * 30);
    if (config.maxLockSeconds < config.lockSeconds && reader.error.isEmpty())
        reader.error = "accounts/maxLockSeconds is shorter than accounts/lockSeconds";
    reader.number("accounts/changesPerMinute", config.accountChangesPerMinute, 1, 1000000);
    if (reader.error.isEmpty())
        reader.error = tlsSettingsError(config);
    if (reader.error.isEmpty())
        readGames(reader, config);
    if (reader.error.isEmpty())
        readRooms(reader, config);
    if (!reader.error.isEmpty()) {
        error = path + ": " + reader.error;
        return false;
    }
    return true;
}

QStringList adoptLiveSettings(ServerConfig& running, const ServerConfig& read)
{
    ServerConfig next = read;
    next.dataFolder = running.dataFolder;
    if (running.tlsFromCommandLine) {
        next.tlsCertificate = running.tlsCertificate;
        next.tlsKey = running.tlsKey;
        next.tlsFromCommandLine = true;
    }
    QStringList kept;
    // What the database, the outbox, the lobby's rooms, the address and account guards, the
    // password queue, the socket reaper and the groups of open connections took at the start.
    const auto keep = [&](auto field, const char* key) {
        if (!(next.*field == running.*field))
            kept << key;
        next.*field = running.*field;
    };
    keep(&ServerConfig::database, "database/url");
    keep(&ServerConfig::metricsListen, "metrics/listen");
    keep(&ServerConfig::mailFrom, "mail/from");
    keep(&ServerConfig::roomSlots, "lobby/roomSlots");
    keep(&ServerConfig::games, "[game...]");
    keep(&ServerConfig::permanentRooms, "[rooms]");
    keep(&ServerConfig::failedLoginsPerMinute, "limits/failedLoginsPerMinute");
    keep(&ServerConfig::loginBanSeconds, "limits/loginBanSeconds");
    keep(&ServerConfig::registrationMailsPerHour, "limits/registrationMailsPerHour");
    keep(&ServerConfig::closeLingerSeconds, "limits/closeLingerSeconds");
    keep(&ServerConfig::connectionCountIntervalMs, "limits/connectionCountIntervalMs");
    keep(&ServerConfig::ipv4GroupPrefix, "limits/ipv4GroupPrefix");
    // The hash an unknown account is checked against has the work factor of the start.
    keep(&ServerConfig::passwordIterations, "accounts/passwordIterations");
    keep(&ServerConfig::passwordThreads, "accounts/passwordThreads");
    keep(&ServerConfig::passwordJobsWaiting, "accounts/passwordJobsWaiting");
    keep(&ServerConfig::passwordJobsPerAddress, "accounts/passwordJobsPerAddress");
    keep(&ServerConfig::lockAfterFailures, "accounts/lockAfterFailures");
    keep(&ServerConfig::lockWindowSeconds, "accounts/lockWindowSeconds");
    keep(&ServerConfig::lockSeconds, "accounts/lockSeconds");
    keep(&ServerConfig::maxLockSeconds, "accounts/maxLockSeconds");
    keep(&ServerConfig::accountChangesPerMinute, "accounts/changesPerMinute");
    running = next;
    return kept;
}
