#include "history/historycolumns.h"

#include <QSqlRecord>

namespace {

struct Column
{
    const char *name;
    const char *sqliteType;
    const char *postgresType;
};

const Column columns[] = {
    {"id", "TEXT PRIMARY KEY", "TEXT PRIMARY KEY"},
    {"run", "TEXT", "TEXT"},
    {"started", "TEXT", "TEXT"},
    {"ended", "TEXT", "TEXT"},
    {"station", "TEXT", "TEXT"},
    {"operator", "TEXT", "TEXT"},
    {"tool_version", "TEXT", "TEXT"},
    {"link", "TEXT", "TEXT"},
    {"target", "TEXT", "TEXT"},
    {"port_serial", "TEXT", "TEXT"},
    {"port_usb_id", "TEXT", "TEXT"},
    {"port_by_id", "TEXT", "TEXT"},
    {"gateway", "TEXT", "TEXT"},
    {"target_kind", "TEXT", "TEXT"},
    {"device", "TEXT", "TEXT"},
    {"split_len", "INTEGER", "INTEGER"},
    {"packet_len", "INTEGER", "INTEGER"},
    {"image_sha256", "TEXT", "TEXT"},
    {"image_size", "INTEGER", "BIGINT"},
    {"image_name", "TEXT", "TEXT"},
    {"image_source", "TEXT", "TEXT"},
    {"result", "TEXT", "TEXT"},
    {"kind", "TEXT", "TEXT"},
    {"reason", "TEXT", "TEXT"},
    {"bytes_acked", "INTEGER", "BIGINT"},
    {"repeats", "INTEGER", "INTEGER"},
    {"timeouts", "INTEGER", "INTEGER"},
    {"connect_attempts", "INTEGER", "INTEGER"},
    {"seconds", "REAL", "DOUBLE PRECISION"},
};

// The indexes the queries need: newest first overall and within each filter.
const char *const indexedColumns[] = {"device", "gateway", "target", "run", "image_sha256", "result"};

QVariant text(const QString &value)
{
    return value.isEmpty() ? QVariant(QVariant::String) : QVariant(value);
}

QVariant time(const QDateTime &value)
{
    return text(UpdateRecord::timeText(value));
}

template <typename T> QVariant number(const std::optional<T> &value, QVariant::Type type)
{
    return value ? QVariant(*value) : QVariant(type);
}

QDateTime timeFrom(const QVariant &value)
{
    return value.isNull() ? QDateTime() : QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
}

template <typename T> std::optional<T> numberFrom(const QVariant &value)
{
    if (value.isNull())
        return std::nullopt;
    return value.value<T>();
}

QString quoted(const char *name)
{
    return QStringLiteral("\"%1\"").arg(QLatin1String(name));
}

QString assignments(const QString &from)
{
    QStringList set;
    for (const Column &column : columns)
        if (qstrcmp(column.name, "id") != 0)
            set << QStringLiteral("%1 = %2.%1").arg(quoted(column.name), from);
    return set.join(QStringLiteral(", "));
}

QString placeholders(int n)
{
    QStringList marks;
    for (int i = 0; i < n; ++i)
        marks << QStringLiteral("?");
    return marks.join(',');
}

} // namespace

int HistoryColumns::count()
{
    return int(std::size(columns));
}

QString HistoryColumns::list()
{
    QStringList names;
    for (const Column &column : columns)
        names << quoted(column.name);
    return names.join(QStringLiteral(", "));
}

QStringList HistoryColumns::createStatements(bool postgres)
{
    QStringList definitions;
    for (const Column &column : columns)
        definitions << quoted(column.name) + ' ' + (postgres ? column.postgresType : column.sqliteType);
    // Who wrote a running record (to tell a dead process's from a live one's), how often it
    // changed, and on the local file whether it waits for the server (0), went (1), or is
    // not meant for one (NULL).
    definitions << "writer_pid INTEGER"
                << "writer_host TEXT"
                << "revision INTEGER NOT NULL DEFAULT 1"
                << "sent INTEGER";
    QStringList statements = {"CREATE TABLE IF NOT EXISTS records (" + definitions.join(", ") + ")",
                              "CREATE INDEX IF NOT EXISTS records_started ON records (started)"};
    for (const char *name : indexedColumns)
        statements << QStringLiteral("CREATE INDEX IF NOT EXISTS records_%1 ON records (%2, started)")
                          .arg(QLatin1String(name), quoted(name));
    if (!postgres)
        statements << "CREATE INDEX IF NOT EXISTS records_unsent ON records (sent) WHERE sent = 0";
    return statements;
}

QVariantList HistoryColumns::values(const UpdateRecord &r)
{
    return {text(r.id),
            text(r.run),
            time(r.started),
            time(r.ended),
            text(r.station),
            text(r.operatorName),
            text(r.toolVersion),
            text(r.link),
            text(r.target),
            text(r.portSerial),
            text(r.portUsbId),
            text(r.portById),
            text(r.gateway),
            text(r.targetKind),
            text(r.device),
            number(r.splitLen, QVariant::Int),
            number(r.packetLen, QVariant::Int),
            text(r.imageSha256),
            number(r.imageSize, QVariant::LongLong),
            text(r.imageName),
            text(r.imageSource),
            text(r.result),
            text(r.kind),
            text(r.reason),
            number(r.bytesAcked, QVariant::LongLong),
            number(r.repeats, QVariant::Int),
            number(r.timeouts, QVariant::Int),
            number(r.connectAttempts, QVariant::Int),
            number(r.seconds, QVariant::Double)};
}

UpdateRecord HistoryColumns::record(const QSqlQuery &query, int first)
{
    auto at = [&](int i) { return query.value(first + i); };
    UpdateRecord r;
    r.id = at(0).toString();
    r.run = at(1).toString();
    r.started = timeFrom(at(2));
    r.ended = timeFrom(at(3));
    r.station = at(4).toString();
    r.operatorName = at(5).toString();
    r.toolVersion = at(6).toString();
    r.link = at(7).toString();
    r.target = at(8).toString();
    r.portSerial = at(9).toString();
    r.portUsbId = at(10).toString();
    r.portById = at(11).toString();
    r.gateway = at(12).toString();
    r.targetKind = at(13).toString();
    r.device = at(14).toString();
    r.splitLen = numberFrom<int>(at(15));
    r.packetLen = numberFrom<int>(at(16));
    r.imageSha256 = at(17).toString();
    r.imageSize = numberFrom<qint64>(at(18));
    r.imageName = at(19).toString();
    r.imageSource = at(20).toString();
    r.result = at(21).toString();
    r.kind = at(22).toString();
    r.reason = at(23).toString();
    r.bytesAcked = numberFrom<qint64>(at(24));
    r.repeats = numberFrom<int>(at(25));
    r.timeouts = numberFrom<int>(at(26));
    r.connectAttempts = numberFrom<int>(at(27));
    r.seconds = numberFrom<double>(at(28));
    return r;
}

QString HistoryColumns::upsert(bool local)
{
    if (local)
        return QStringLiteral(
                   "INSERT INTO records (%1, writer_pid, writer_host, revision, sent) VALUES (%2, 1, ?) "
                   "ON CONFLICT (\"id\") DO UPDATE SET %3, writer_pid = excluded.writer_pid, "
                   "writer_host = excluded.writer_host, revision = records.revision + 1, "
                   "sent = excluded.sent "
                   "WHERE records.result = 'running' OR excluded.result <> 'running'")
            .arg(list(), placeholders(count() + 2), assignments("excluded"));
    return QStringLiteral("INSERT INTO records (%1, revision) VALUES (%2) "
                          "ON CONFLICT (\"id\") DO UPDATE SET %3, revision = excluded.revision "
                          "WHERE records.revision < excluded.revision")
        .arg(list(), placeholders(count() + 1), assignments("excluded"));
}
