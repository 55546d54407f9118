#include "history/historystore.h"

#include "history/historycolumns.h"
#include "history/historyfile.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QHash>
#include <QLockFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSysInfo>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace {

const int schemaVersion = 1;
// A lock held by another process is waited for this long before a write gives up.
const int busyTimeoutMs = 5000;
const int statementTimeoutMs = 5000;
const int connectTimeoutSeconds = 3;

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("plovik_history_%1").arg(counter.fetchAndAddRelaxed(1));
}

bool processAlive(qint64 pid)
{
    return pid > 0 && (kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

QString errorText(const QSqlError &error)
{
    const QString text = error.databaseText().isEmpty() ? error.driverText() : error.databaseText();
    return text.simplified();
}

} // namespace

HistoryStore::HistoryStore() : name(nextConnectionName()) {}

HistoryStore::~HistoryStore()
{
    close();
}

bool HistoryStore::open(const HistoryLocation &location, QString *problem)
{
    close();
    busy = false;
    where = location.displayName();
    shared = location.isShared();
    if (!shared && !HistoryFile::prepare(location.localPath, problem))
        return fail(*problem, nullptr);
    if (!openDatabase(location, problem))
        return false;
    opened = true;
    if (!(shared ? migrate() : migrateAlone(location.localPath))) {
        close();
        return fail(error, problem);
    }
    if (!shared)
        markInterrupted();
    return true;
}

bool HistoryStore::openLocal(const QString &path, QString *problem)
{
    HistoryLocation location;
    location.localPath = path;
    return open(location, problem);
}

bool HistoryStore::openDatabase(const HistoryLocation &location, QString *problem)
{
    const QString driver = shared ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
    if (!QSqlDatabase::isDriverAvailable(driver))
        return fail(QStringLiteral("Qt's %1 driver is missing (Debian: %2)")
                        .arg(driver, shared ? "libqt5sql5-psql" : "libqt5sql5-sqlite"),
                    problem);
    QSqlDatabase db = QSqlDatabase::addDatabase(driver, name);
    if (shared) {
        HistoryLocation::Server server;
        if (!location.server(&server, problem))
            return fail(*problem, nullptr);
        db.setHostName(server.host);
        db.setPort(server.port);
        db.setUserName(server.user);
        db.setDatabaseName(server.database);
        db.setConnectOptions(QStringLiteral("connect_timeout=%1").arg(connectTimeoutSeconds));
    } else {
        db.setDatabaseName(location.localPath);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
    }
    if (!db.open()) {
        failed(db.lastError());
        return fail(error, problem);
    }
    return true;
}

bool HistoryStore::fail(const QString &why, QString *problem)
{
    const QString text = why.startsWith(where) ? why : QStringLiteral("%1: %2").arg(where, why);
    error = text;
    if (problem)
        *problem = error;
    return false;
}

bool HistoryStore::failed(const QSqlError &sqlError)
{
    // SQLITE_BUSY and SQLITE_LOCKED: another process holds the file; trying later may work.
    busy = !shared && (sqlError.nativeErrorCode() == QLatin1String("5") ||
                       sqlError.nativeErrorCode() == QLatin1String("6"));
    return fail(errorText(sqlError), nullptr);
}

void HistoryStore::close()
{
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
    opened = false;
}

bool HistoryStore::isOpen() const
{
    return opened;
}

bool HistoryStore::exec(QSqlQuery &query)
{
    if (query.exec())
        return true;
    failed(query.lastError());
    return false;
}

bool HistoryStore::exec(const QString &statement)
{
    QSqlQuery query(QSqlDatabase::database(name, false));
    if (query.exec(statement))
        return true;
    failed(query.lastError());
    return false;
}

bool HistoryStore::transaction()
{
    if (shared)
        return QSqlDatabase::database(name, false).transaction() ||
               failed(QSqlDatabase::database(name, false).lastError());
    // Takes the write lock at once (waiting the busy time-out), so a transaction never fails
    // half-way because another process began writing after it read.
    return exec(QStringLiteral("BEGIN IMMEDIATE"));
}

bool HistoryStore::commit()
{
    if (shared)
        return QSqlDatabase::database(name, false).commit() ||
               failed(QSqlDatabase::database(name, false).lastError());
    return exec(QStringLiteral("COMMIT"));
}

void HistoryStore::rollback()
{
    if (shared)
        QSqlDatabase::database(name, false).rollback();
    else
        QSqlQuery(QSqlDatabase::database(name, false)).exec(QStringLiteral("ROLLBACK"));
}

// SQLite keeps the version in the file's header; PostgreSQL in a table of its own.
bool HistoryStore::migrate()
{
    if (!shared) {
        if (!useWal() || !exec(QStringLiteral("PRAGMA synchronous=NORMAL")))
            return false;
    } else if (!exec(QStringLiteral("SET statement_timeout = %1").arg(statementTimeoutMs))) {
        return false;
    }
    QSqlQuery version(QSqlDatabase::database(name, false));
    const QString read = shared ? QStringLiteral("SELECT max(version) FROM plovikkit_schema")
                                : QStringLiteral("PRAGMA user_version");
    if (version.exec(read) && version.next() && version.value(0).toInt() >= schemaVersion)
        return true;
    return createSchema();
}

// A new file switched to WAL by one process while another still writes it the old way loses
// what either wrote; so one process at a time sets the file up.
bool HistoryStore::migrateAlone(const QString &path)
{
    QLockFile setup(path + QStringLiteral(".lock"));
    if (!setup.tryLock(busyTimeoutMs)) {
        busy = true;
        return fail(QStringLiteral("another program holds %1.lock").arg(path), nullptr);
    }
    return migrate();
}

// Switching to WAL needs the file to itself; once the file is in WAL, that is never asked again.
bool HistoryStore::useWal()
{
    QSqlQuery mode(QSqlDatabase::database(name, false));
    if (!mode.exec(QStringLiteral("PRAGMA journal_mode")))
        return failed(mode.lastError());
    const bool wal = mode.next() && mode.value(0).toString() == QLatin1String("wal");
    mode.finish();
    return wal || exec(QStringLiteral("PRAGMA journal_mode=WAL"));
}

bool HistoryStore::createSchema()
{
    if (!transaction())
        return false;
    QStringList statements = HistoryColumns::createStatements(shared);
    if (shared)
        statements << "CREATE TABLE IF NOT EXISTS plovikkit_schema (version INTEGER NOT NULL)"
                   << "LOCK TABLE plovikkit_schema"
                   << "DELETE FROM plovikkit_schema"
                   << QStringLiteral("INSERT INTO plovikkit_schema VALUES (%1)").arg(schemaVersion);
    else
        statements << QStringLiteral("PRAGMA user_version = %1").arg(schemaVersion);
    for (const QString &statement : statements)
        if (!exec(statement)) {
            rollback();
            return false;
        }
    return commit();
}

bool HistoryStore::begin(const UpdateRecord &record)
{
    return write({record});
}

bool HistoryStore::complete(const UpdateRecord &record)
{
    return write({record});
}

bool HistoryStore::write(const QList<UpdateRecord> &records)
{
    if (!opened)
        return fail(QStringLiteral("not open"), nullptr);
    if (!transaction())
        return false;
    for (const UpdateRecord &record : records)
        if (!upsert(record)) {
            rollback();
            return false;
        }
    return commit();
}

bool HistoryStore::upsert(const UpdateRecord &record)
{
    QSqlQuery query(QSqlDatabase::database(name, false));
    query.prepare(HistoryColumns::upsert(true));
    for (const QVariant &value : HistoryColumns::values(record))
        query.addBindValue(value);
    query.addBindValue(qint64(QCoreApplication::applicationPid()));
    query.addBindValue(QSysInfo::machineHostName());
    query.addBindValue(outbox && !shared ? QVariant(0) : QVariant(QVariant::Int));
    return exec(query);
}

QString HistoryStore::whereClause(const HistoryQuery &filter, const QString &extra, QVariantList *values)
{
    QStringList conditions;
    auto equal = [&](const char *column, const QString &value) {
        if (value.isEmpty())
            return;
        conditions << QStringLiteral("\"%1\" = ?").arg(QLatin1String(column));
        *values << value;
    };
    equal("target", filter.target);
    equal("device", filter.device.toUpper());
    equal("image_sha256", filter.imageSha256.toLower());
    equal("result", filter.result);
    equal("run", filter.run);
    if (filter.since.isValid()) {
        conditions << QStringLiteral("started >= ?");
        *values << UpdateRecord::timeText(filter.since);
    }
    if (filter.until.isValid()) {
        conditions << QStringLiteral("started <= ?");
        *values << UpdateRecord::timeText(filter.until);
    }
    if (!extra.isEmpty())
        conditions << extra;
    return conditions.isEmpty() ? QString() : " WHERE " + conditions.join(QStringLiteral(" AND "));
}

QSqlQuery HistoryStore::select(const QString &statement, const QVariantList &values)
{
    QSqlQuery query(QSqlDatabase::database(name, false));
    query.setForwardOnly(true);
    query.prepare(statement);
    for (const QVariant &value : values)
        query.addBindValue(value);
    exec(query);
    return query;
}

QSqlQuery HistoryStore::selectRecords(const HistoryQuery &filter, const QString &columns, const QString &tail)
{
    QVariantList values;
    const QString where = whereClause(filter, {}, &values);
    return select(QStringLiteral("SELECT %1 FROM records%2 %3").arg(columns, where, tail), values);
}

QSqlQuery HistoryStore::findQuery(const HistoryQuery &filter)
{
    QString tail = QStringLiteral("ORDER BY started DESC, id DESC");
    if (filter.limit > 0)
        tail += QStringLiteral(" LIMIT %1").arg(filter.limit);
    QSqlQuery query = selectRecords(filter, HistoryColumns::list(), tail);
    return query;
}

QList<UpdateRecord> HistoryStore::find(const HistoryQuery &filter)
{
    QList<UpdateRecord> records;
    if (!opened)
        return records;
    QSqlQuery query = findQuery(filter);
    while (query.next())
        records << HistoryColumns::record(query);
    return records;
}

std::optional<UpdateRecord> HistoryStore::latestFor(const QString &deviceOrGateway, bool isGateway,
                                                    const QString &imageSha256, const QString &targetKind)
{
    if (!opened || deviceOrGateway.isEmpty())
        return std::nullopt;
    QString statement = QStringLiteral("SELECT %1 FROM records WHERE %2 = ? AND result <> 'running'")
                            .arg(HistoryColumns::list(), isGateway ? "gateway" : "device");
    QVariantList values = {isGateway ? deviceOrGateway : deviceOrGateway.toUpper()};
    if (!imageSha256.isEmpty()) {
        statement += QStringLiteral(" AND image_sha256 = ?");
        values << imageSha256.toLower();
    }
    if (!targetKind.isEmpty()) {
        statement += QStringLiteral(" AND target_kind = ?");
        values << targetKind;
    }
    QSqlQuery query(QSqlDatabase::database(name, false));
    query.prepare(statement + QStringLiteral(" ORDER BY started DESC, id DESC LIMIT 1"));
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!exec(query) || !query.next())
        return std::nullopt;
    return HistoryColumns::record(query);
}

QList<UpdateRecord> HistoryStore::runRecords(const QString &run)
{
    QList<UpdateRecord> records;
    if (!opened || run.isEmpty())
        return records;
    HistoryQuery filter;
    filter.run = run;
    QSqlQuery query = selectRecords(filter, HistoryColumns::list(), QStringLiteral("ORDER BY started, id"));
    while (query.next())
        records << HistoryColumns::record(query);
    return records;
}

// One pass over the records, counted here: the database would scan them once per figure.
HistorySummary HistoryStore::summary(const HistoryQuery &filter)
{
    QList<HistorySummary::Outcome> outcomes;
    if (!opened)
        return {};
    QVariantList values;
    const QString where = whereClause(filter, QStringLiteral("result <> 'running'"), &values);
    QSqlQuery query =
        select(QStringLiteral("SELECT image_sha256, image_name, station, "
                              "coalesce(device, gateway, target), result, seconds FROM records%1")
                   .arg(where),
               values);
    while (query.next())
        outcomes << HistorySummary::Outcome{query.value(0).toString(), query.value(1).toString(),
                                            query.value(2).toString(), query.value(3).toString(),
                                            query.value(4).toString(), query.value(5).toDouble()};
    return HistorySummary::of(outcomes);
}

QList<HistoryStore::Pending> HistoryStore::unsent(int limit)
{
    QList<Pending> pending;
    if (!opened || shared)
        return pending;
    QSqlQuery query(QSqlDatabase::database(name, false));
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1, revision FROM records WHERE sent = 0 ORDER BY started LIMIT %2")
                      .arg(HistoryColumns::list())
                      .arg(limit));
    if (!exec(query))
        return pending;
    while (query.next())
        pending << Pending{HistoryColumns::record(query), query.value(HistoryColumns::count()).toLongLong()};
    return pending;
}

bool HistoryStore::markSent(const QList<Pending> &sent)
{
    if (!opened || !transaction())
        return false;
    for (const Pending &item : sent) {
        QSqlQuery query(QSqlDatabase::database(name, false));
        // A record that changed since it was read waits for its next sending.
        query.prepare(QStringLiteral("UPDATE records SET sent = 1 WHERE id = ? AND revision = ?"));
        query.addBindValue(item.record.id);
        query.addBindValue(item.revision);
        if (!exec(query)) {
            rollback();
            return false;
        }
    }
    return commit();
}

bool HistoryStore::deliver(const QList<Pending> &records)
{
    if (!opened || !transaction())
        return false;
    for (const Pending &item : records) {
        QSqlQuery query(QSqlDatabase::database(name, false));
        query.prepare(HistoryColumns::upsert(false));
        for (const QVariant &value : HistoryColumns::values(item.record))
            query.addBindValue(value);
        query.addBindValue(item.revision);
        if (!exec(query)) {
            rollback();
            return false;
        }
    }
    return commit();
}

int HistoryStore::markInterrupted()
{
    if (!opened || shared)
        return 0;
    QSqlQuery running(QSqlDatabase::database(name, false));
    running.prepare(
        QStringLiteral("SELECT id, writer_pid FROM records WHERE result = 'running' AND writer_host = ?"));
    running.addBindValue(QSysInfo::machineHostName());
    if (!exec(running))
        return 0;
    QStringList gone;
    while (running.next())
        if (!processAlive(running.value(1).toLongLong()))
            gone << running.value(0).toString();
    running.finish();
    int marked = 0;
    for (const QString &id : gone) {
        QSqlQuery mark(QSqlDatabase::database(name, false));
        mark.prepare(
            QStringLiteral("UPDATE records SET result = 'interrupted', kind = 'interrupted', "
                           "reason = 'the program ended before the update did', "
                           "revision = revision + 1, sent = CASE WHEN sent IS NULL THEN NULL ELSE 0 END "
                           "WHERE id = ? AND result = 'running'"));
        mark.addBindValue(id);
        if (exec(mark))
            marked += mark.numRowsAffected();
    }
    return marked;
}
