// SPDX-License-Identifier: GPL-3.0-or-later
#include "sqlstore.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryFile>
#include <QUrl>

namespace
{

struct SchemaStep {
    int version;
    QStringList statements;
    // The names and addresses of the accounts whose data the step changes, logged with why.
    QString affected = {};
    QString why = {};
};

// An account whose address an older account has in other letter case.
const QString caseTwin = "EXISTS (SELECT 1 FROM accounts AS older WHERE lower(older.mail%C%) = "
                         "lower(accounts.mail%C%) AND older.id < accounts.id)";

// Append a step for every change of the schema; never edit a step that has shipped. "%ID%" is
// the driver's column type of a generated primary key; "%C%" the collation under which lower()
// folds ASCII letters only, as SQLite's lower() always does, so that both drivers take the same
// addresses for one.
const QVector<SchemaStep>& schemaSteps()
{
    static const QVector<SchemaStep> steps = {
        {1,
         {"CREATE TABLE accounts ("
          " id %ID%,"
          " name TEXT NOT NULL UNIQUE,"
          " password_hash TEXT NOT NULL,"
          " password_salt TEXT NOT NULL,"
          " password_iterations INTEGER NOT NULL,"
          " mail TEXT UNIQUE,"
          " handle TEXT NOT NULL DEFAULT '',"
          " admin INTEGER NOT NULL DEFAULT 0,"
          " created_at BIGINT NOT NULL)",
          "CREATE TABLE registration_keys ("
          " key TEXT PRIMARY KEY,"
          " mail TEXT NOT NULL UNIQUE,"
          " expires_at BIGINT NOT NULL)"}},
        // Mail systems deliver to Ann@example.org and ann@example.org alike: one address, which
        // the older of two accounts keeps.
        {2,
         {"UPDATE accounts SET mail = NULL WHERE " + caseTwin,
          "CREATE UNIQUE INDEX accounts_mail_folded ON accounts (lower(mail%C%))"},
         "SELECT name, mail FROM accounts WHERE " + caseTwin,
         "cleared, an older account has it in other letter case"},
        {3,
         {"CREATE TABLE moderation_audit ("
          " id %ID%,"
          " at BIGINT NOT NULL,"
          " operator TEXT NOT NULL,"
          " action TEXT NOT NULL,"
          " target TEXT NOT NULL,"
          " reason TEXT NOT NULL)",
          "CREATE TABLE bans ("
          " id %ID%,"
          " kind TEXT NOT NULL,"
          " target TEXT NOT NULL,"
          " until BIGINT NOT NULL,"
          " reason TEXT NOT NULL,"
          " lifted INTEGER NOT NULL DEFAULT 0)"}},
    };
    return steps;
}

const char* const accountColumns = "SELECT id, name, password_hash, password_salt, "
                                   "password_iterations, mail, handle, admin FROM accounts";

// An empty address is kept as NULL, so that accounts without one do not collide.
QVariant nullableText(const QString& text)
{
    return text.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(text);
}

// An address as the schema's lower(mail%C%) folds it.
QString foldedMail(const QString& mail)
{
    QString folded = mail;
    for (QChar& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = QChar(c.unicode() + ('a' - 'A'));
    return folded;
}

// A locked or unreachable database answers failure after these, instead of holding up the
// requests queued behind the one that waits. Writes are single rows: well within them.
constexpr int lockTimeoutMs = 2000;
constexpr int statementTimeoutMs = 5000;
constexpr int connectTimeoutSeconds = 3;

QSqlDatabase addConnection(const QString& location, const QString& name, QString& error)
{
    if (location.startsWith("sqlite:")) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
        db.setDatabaseName(location.mid(7));
        db.setConnectOptions(QString("QSQLITE_BUSY_TIMEOUT=%1").arg(lockTimeoutMs));
        return db;
    }
    if (location.startsWith("postgresql:")) {
        QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", name);
        db.setConnectOptions(QString("connect_timeout=%1").arg(connectTimeoutSeconds));
        if (location.startsWith("postgresql://")) {
            const QUrl url(location);
            if (!url.isValid()) {
                error = "cannot read the database address " + location;
                return {};
            }
            db.setHostName(url.host());
            if (url.port() > 0)
                db.setPort(url.port());
            db.setUserName(url.userName());
            db.setPassword(url.password());
            db.setDatabaseName(url.path().mid(1));
        }
        return db;
    }
    error = "unknown database " + location + ": use sqlite:FILE or postgresql:[//...]";
    return {};
}

} // namespace

SqlStore::SqlStore(const QString& connectionName) : connectionName(connectionName) {}

SqlStore::~SqlStore()
{
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
}

int SqlStore::currentSchemaVersion()
{
    return schemaSteps().constLast().version;
}

std::unique_ptr<SqlStore> SqlStore::open(const QString& location, QString& error,
                                         StoreFigures* figures)
{
    static int opened = 0;
    const QString name = QString("tileparlor-store-%1").arg(++opened);
    std::unique_ptr<SqlStore> store(new SqlStore(name));
    store->figures = figures;
    store->db = addConnection(location, name, error);
    if (!error.isEmpty())
        return nullptr;
    if (!store->db.isValid()) {
        error = "the Qt Sql driver for " + location + " is not installed";
        return nullptr;
    }
    // SQLite's own error for a folder it cannot write in names no folder.
    const bool sqlite = store->db.driverName() == "QSQLITE";
    if (sqlite && store->db.databaseName() != ":memory:") {
        const QString folder = QFileInfo(store->db.databaseName()).absolutePath();
        QTemporaryFile probe(QDir(folder).filePath(".write-check-XXXXXX"));
        if (!probe.open()) {
            error = QString("the database folder %1 is not writable: %2")
                        .arg(folder, probe.errorString());
            return nullptr;
        }
    }
    if (!store->connect(error) || !store->upgradeSchema(error))
        return nullptr;
    if (sqlite) {
        QSqlQuery mode(store->db);
        const QString journal =
            mode.exec("PRAGMA journal_mode") && mode.next() ? mode.value(0).toString() : "?";
        const int sync =
            mode.exec("PRAGMA synchronous") && mode.next() ? mode.value(0).toInt() : -1;
        static const QStringList levels{"off", "normal", "full", "extra"};
        qInfo().noquote()
            << QString("store: SQLite journal %1, synchronous %2").arg(journal, levels.value(sync));
    }
    return store;
}

// SQLite keeps a write-ahead log, so that readers do not wait for the writer, and syncs it at
// every commit: with synchronous=NORMAL a change already reported as done may be lost in a
// power cut.
bool SqlStore::connect(QString& error)
{
    if (!db.open()) {
        error = "cannot open the database: " + db.lastError().text();
        return false;
    }
    QSqlQuery pragma(db);
    if (db.driverName() == "QSQLITE" &&
        (!pragma.exec("PRAGMA journal_mode=WAL") || !pragma.exec("PRAGMA synchronous=FULL"))) {
        error = "cannot set up the SQLite database: " + pragma.lastError().text();
        return false;
    }
    if (db.driverName() == "QPSQL" &&
        (!pragma.exec(QString("SET lock_timeout = %1").arg(lockTimeoutMs)) ||
         !pragma.exec(QString("SET statement_timeout = %1").arg(statementTimeoutMs)))) {
        error = "cannot set up the PostgreSQL session: " + pragma.lastError().text();
        return false;
    }
    return true;
}

bool SqlStore::reopenIfLost()
{
    QSqlQuery probe(db);
    if (probe.exec("SELECT 1"))
        return false;
    qWarning().noquote() << "store: connection lost; reopening";
    db.close();
    QString error;
    if (!connect(error))
        qWarning().noquote() << "store:" << error;
    return true;
}

QString SqlStore::dialect(QString sql) const
{
    const bool postgres = db.driverName() == "QPSQL";
    return sql
        .replace("%ID%", postgres ? "INTEGER GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"
                                  : "INTEGER PRIMARY KEY")
        .replace("%C%", postgres ? " COLLATE \"C\"" : "");
}

int SqlStore::schemaVersion()
{
    QSqlQuery query(db);
    if (!run(query, "SELECT MAX(version) FROM schema_version") || !query.next())
        return -1;
    return query.value(0).toInt();
}

bool SqlStore::upgradeSchema(QString& error)
{
    QSqlQuery query(db);
    if (!db.tables().contains("schema_version") &&
        !run(query, "CREATE TABLE schema_version (version INTEGER NOT NULL)")) {
        error = "cannot create schema_version: " + query.lastError().text();
        return false;
    }
    QStringList done;
    const auto upgrade = [&](QSqlQuery& query) {
        // Several servers may share one PostgreSQL database; one of them upgrades at a time,
        // and a step over many accounts may take longer than a request may.
        if (db.driverName() == "QPSQL" &&
            (!run(query, "SET LOCAL lock_timeout = 0") ||
             !run(query, "SET LOCAL statement_timeout = 0") ||
             !run(query, "LOCK TABLE schema_version IN EXCLUSIVE MODE"))) {
            error = "cannot lock schema_version: " + query.lastError().text();
            return false;
        }
        const int found = schemaVersion();
        if (found < 0 || found > currentSchemaVersion()) {
            error = found < 0
                        ? "cannot read the schema version"
                        : QString("the database has schema version %1; this server knows up to %2")
                              .arg(found)
                              .arg(currentSchemaVersion());
            return false;
        }
        for (const SchemaStep& step : schemaSteps()) {
            if (step.version <= found)
                continue;
            const auto failed = [&] {
                error = QString("schema upgrade to version %1 failed: %2")
                            .arg(step.version)
                            .arg(query.lastError().text());
                return false;
            };
            if (!step.affected.isEmpty() && !run(query, step.affected))
                return failed();
            while (!step.affected.isEmpty() && query.next())
                done << QString("store: account %1, address %2: %3")
                            .arg(query.value(0).toString(), query.value(1).toString(), step.why);
            for (const QString& statement : step.statements)
                if (!run(query, statement))
                    return failed();
            if (!run(query, "INSERT INTO schema_version (version) VALUES (?)", {step.version}))
                return failed();
            done << QString("store: schema upgraded to version %1").arg(step.version);
        }
        return true;
    };
    if (!transaction(upgrade, &error))
        return false;
    // Only what was committed is told.
    for (const QString& line : done)
        qInfo().noquote() << line;
    return true;
}

bool SqlStore::run(QSqlQuery& query, const QString& sql, const QVariantList& values)
{
    const QString statement = dialect(sql);
    QElapsedTimer started;
    started.start();
    failed = false;
    for (int attempt = 0;; ++attempt) {
        query = QSqlQuery(db);
        // PostgreSQL prepares no schema statements; those come without values.
        bool ok = values.isEmpty() ? query.exec(statement) : query.prepare(statement);
        if (ok && !values.isEmpty()) {
            for (const QVariant& value : values)
                query.addBindValue(value);
            ok = query.exec();
        }
        if (ok)
            break;
        // A lost connection took its transaction along: the statement must not run again alone.
        if (attempt > 0 || inTransaction || !reopenIfLost()) {
            qWarning().noquote() << "store: error:" << query.lastError().text();
            failed = true;
            break;
        }
    }
    // A transaction's statements are timed and counted with it.
    if (!inTransaction)
        measure(StoreFigures::Read, started);
    return !failed;
}

void SqlStore::measure(StoreFigures::Operation operation, const QElapsedTimer& started)
{
    if (!figures)
        return;
    figures->seconds[operation].observe(started.nsecsElapsed());
    if (failed)
        figures->errors[operation].fetch_add(1, std::memory_order_relaxed);
}

bool SqlStore::transaction(const std::function<bool(QSqlQuery&)>& work, QString* error)
{
    QElapsedTimer started;
    started.start();
    if (!db.transaction() && !(reopenIfLost() && db.transaction())) {
        const QString why = "no transaction: " + db.lastError().text();
        qWarning().noquote() << "store:" << why;
        failed = true;
        measure(StoreFigures::Write, started);
        if (error && error->isEmpty())
            *error = why;
        return false;
    }
    inTransaction = true;
    QSqlQuery query(db);
    bool done = work(query);
    // A query still active would keep PostgreSQL and SQLite from committing.
    query.finish();
    if (done && !db.commit()) {
        const QString why = "not committed: " + db.lastError().text();
        qWarning().noquote() << "store:" << why;
        failed = true;
        if (error && error->isEmpty())
            *error = why;
        done = false;
    }
    // SQLite may have rolled back on its own after a failed commit; then this finds nothing.
    if (!done)
        db.rollback();
    inTransaction = false;
    measure(StoreFigures::Write, started);
    return done;
}

bool SqlStore::update(const QString& sql, const QVariantList& values)
{
    return transaction(
        [&](QSqlQuery& query) { return run(query, sql, values) && query.numRowsAffected() == 1; });
}

std::optional<QVariant> SqlStore::returning(const QString& sql, const QVariantList& values)
{
    QVariant value;
    const bool done = transaction([&](QSqlQuery& query) {
        if (!run(query, sql, values) || !query.next())
            return false;
        value = query.value(0);
        return true;
    });
    return done ? std::optional<QVariant>(value) : std::nullopt;
}

QVector<Account> SqlStore::selectAccounts(const QString& where, const QVariantList& values)
{
    QVector<Account> found;
    QSqlQuery query(db);
    if (!run(query, QString(accountColumns) + where, values))
        return found;
    while (query.next()) {
        Account account;
        account.id = query.value(0).toUInt();
        account.name = query.value(1).toString();
        account.password.hash = QByteArray::fromHex(query.value(2).toByteArray());
        account.password.salt = QByteArray::fromHex(query.value(3).toByteArray());
        account.password.iterations = query.value(4).toInt();
        account.mail = query.value(5).toString();
        account.handle = query.value(6).toString();
        account.admin = query.value(7).toInt() != 0;
        found.append(account);
    }
    return found;
}

std::optional<Account> SqlStore::accountByName(const QString& name)
{
    const QVector<Account> found = selectAccounts(" WHERE name = ?", {name});
    return found.isEmpty() ? std::nullopt : std::optional<Account>(found.first());
}

std::optional<Account> SqlStore::accountById(quint32 id)
{
    const QVector<Account> found = selectAccounts(" WHERE id = ?", {qint64(id)});
    return found.isEmpty() ? std::nullopt : std::optional<Account>(found.first());
}

QVector<Account> SqlStore::accounts()
{
    return selectAccounts(" ORDER BY id", {});
}

bool SqlStore::mailInUse(const QString& mail)
{
    QSqlQuery query(db);
    if (!run(query, "SELECT 1 FROM accounts WHERE lower(mail%C%) = ?", {foldedMail(mail)}))
        return true;
    return query.next();
}

quint32 SqlStore::createAccount(const Account& account)
{
    const std::optional<QVariant> id = returning(
        "INSERT INTO accounts (name, password_hash, password_salt, "
        "password_iterations, mail, handle, admin, created_at) "
        "VALUES (?, ?, ?, ?, ?, ?, ?, ?) RETURNING id",
        {account.name, QString::fromLatin1(account.password.hash.toHex()),
         QString::fromLatin1(account.password.salt.toHex()), account.password.iterations,
         nullableText(account.mail), account.handle.isNull() ? QString("") : account.handle,
         account.admin ? 1 : 0, QDateTime::currentSecsSinceEpoch()});
    return id ? id->toUInt() : 0;
}

bool SqlStore::removeAccount(quint32 id)
{
    return update("DELETE FROM accounts WHERE id = ?", {qint64(id)});
}

bool SqlStore::setHandle(quint32 id, const QString& handle)
{
    return update("UPDATE accounts SET handle = ? WHERE id = ?", {handle, qint64(id)});
}

bool SqlStore::setMail(quint32 id, const QString& mail)
{
    return update("UPDATE accounts SET mail = ? WHERE id = ?", {nullableText(mail), qint64(id)});
}

bool SqlStore::setPassword(quint32 id, const StoredPassword& password)
{
    return update("UPDATE accounts SET password_hash = ?, password_salt = ?, "
                  "password_iterations = ? WHERE id = ?",
                  {QString::fromLatin1(password.hash.toHex()),
                   QString::fromLatin1(password.salt.toHex()), password.iterations, qint64(id)});
}

bool SqlStore::setAdmin(quint32 id, bool admin)
{
    return update("UPDATE accounts SET admin = ? WHERE id = ?", {admin ? 1 : 0, qint64(id)});
}

// A null QString would go to the database as NULL, which a NOT NULL text refuses.
static QString notNull(const QString& text)
{
    return text.isNull() ? QString("") : text;
}

bool SqlStore::addAudit(const AuditEntry& entry)
{
    return update(
        "INSERT INTO moderation_audit (at, operator, action, target, reason) "
        "VALUES (?, ?, ?, ?, ?)",
        {entry.at, entry.operatorName, entry.action, notNull(entry.target), notNull(entry.reason)});
}

QVector<AuditEntry> SqlStore::audit(int newest)
{
    QVector<AuditEntry> entries;
    QSqlQuery query(db);
    if (!run(query,
             "SELECT at, operator, action, target, reason FROM moderation_audit "
             "ORDER BY id DESC LIMIT ?",
             {newest}))
        return entries;
    while (query.next())
        entries.append({query.value(0).toLongLong(), query.value(1).toString(),
                        query.value(2).toString(), query.value(3).toString(),
                        query.value(4).toString()});
    return entries;
}

bool SqlStore::addBan(const Ban& ban)
{
    return update("INSERT INTO bans (kind, target, until, reason) VALUES (?, ?, ?, ?)",
                  {ban.kind, ban.target, ban.until, notNull(ban.reason)});
}

int SqlStore::liftBans(const QString& kind, const QString& target)
{
    int lifted = 0;
    transaction([&](QSqlQuery& query) {
        if (!run(query, "UPDATE bans SET lifted = 1 WHERE kind = ? AND lower(target) = ?",
                 {kind, target.toLower()}))
            return false;
        lifted = query.numRowsAffected();
        return true;
    });
    return lifted;
}

QVector<Ban> SqlStore::activeBans(qint64 now)
{
    QVector<Ban> bans;
    QSqlQuery query(db);
    if (!run(query,
             "SELECT kind, target, until, reason FROM bans "
             "WHERE lifted = 0 AND (until = 0 OR until > ?) ORDER BY id",
             {now}))
        return bans;
    while (query.next())
        bans.append({query.value(0).toString(), query.value(1).toString(),
                     query.value(2).toLongLong(), query.value(3).toString()});
    return bans;
}

bool SqlStore::putRegistrationKey(const QString& mail, const QString& key, qint64 expiresAt)
{
    return transaction([&](QSqlQuery& query) {
        return run(query,
                   "DELETE FROM registration_keys WHERE expires_at <= ? OR lower(mail%C%) = ?",
                   {QDateTime::currentSecsSinceEpoch(), foldedMail(mail)}) &&
               run(query, "INSERT INTO registration_keys (key, mail, expires_at) VALUES (?, ?, ?)",
                   {key, mail, expiresAt});
    });
}

std::optional<QString> SqlStore::registrationMail(const QString& key, qint64 now)
{
    QSqlQuery query(db);
    if (!run(query, "SELECT mail FROM registration_keys WHERE key = ? AND expires_at > ?",
             {key, now}) ||
        !query.next())
        return std::nullopt;
    return query.value(0).toString();
}

std::optional<QString> SqlStore::takeRegistrationKey(const QString& key, qint64 now)
{
    const std::optional<QVariant> mail =
        returning("DELETE FROM registration_keys WHERE key = ? AND expires_at > ? RETURNING mail",
                  {key, now});
    return mail ? std::optional<QString>(mail->toString()) : std::nullopt;
}
