#pragma once

#include "history/historylocation.h"
#include "history/historyquery.h"
#include "history/historysummary.h"
#include "history/updaterecord.h"

#include <QHash>
#include <QList>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <optional>

// One connection to the record's store, used on the thread that made it. Every call blocks but
// is bounded: SQLite waits at most its busy time-out for a lock, PostgreSQL gives up a statement
// after its time-out and a connection after its connect time-out.
class HistoryStore
{
public:
    HistoryStore();
    ~HistoryStore();
    HistoryStore(const HistoryStore &) = delete;
    HistoryStore &operator=(const HistoryStore &) = delete;

    // Opens the server when the location names one, else the local file; creates or migrates
    // the tables. Opening the local file marks the "running" records of processes of this host
    // that are gone as "interrupted".
    bool open(const HistoryLocation &location, QString *problem);
    // Only the local file, whatever the location says (the recorder's outbox).
    bool openLocal(const QString &path, QString *problem);
    void close();
    bool isOpen() const;
    bool isShared() const { return shared; }
    // A local file that is an outbox: what is written there waits for the server.
    void setOutbox(bool on) { outbox = on; }

    // Upsert by id: writing a record twice leaves one row. A record that has ended is never
    // turned back into a running one.
    bool begin(const UpdateRecord &record);
    bool complete(const UpdateRecord &record);
    // Several records in one transaction.
    bool write(const QList<UpdateRecord> &records);

    // Newest first.
    QList<UpdateRecord> find(const HistoryQuery &query);
    // The same rows as a query on this connection, columns named as UpdateRecord::fieldNames();
    // for a QSqlQueryModel.
    QSqlQuery findQuery(const HistoryQuery &query);
    // The latest ended record of that device (by `device`) or gateway (by `gateway`), optionally
    // with that image and target kind; records still running say nothing yet and are passed over.
    std::optional<UpdateRecord> latestFor(const QString &deviceOrGateway, bool isGateway,
                                          const QString &imageSha256 = {}, const QString &targetKind = {});
    // Every record of a run, oldest first.
    QList<UpdateRecord> runRecords(const QString &run);
    HistorySummary summary(const HistoryQuery &query);

    // The outbox of the local file: records that wait for the server, and marking them sent.
    struct Pending
    {
        UpdateRecord record;
        qint64 revision = 0;
    };
    QList<Pending> unsent(int limit);
    bool markSent(const QList<Pending> &sent);
    // On the server: records as the outbox holds them, a newer revision never overwritten.
    bool deliver(const QList<Pending> &records);

    // Records of dead processes of this host that were still running, now "interrupted".
    int markInterrupted();

    QString connectionName() const { return name; }
    QString lastError() const { return error; }
    // The last failure was another process holding the local file: worth trying again later.
    bool wasBusy() const { return busy; }

private:
    bool openDatabase(const HistoryLocation &location, QString *problem);
    bool prepareLocalFile(const QString &path, QString *problem);
    bool migrate();
    bool migrateAlone(const QString &path);
    bool createSchema();
    bool useWal();
    bool upsert(const UpdateRecord &record);
    bool exec(QSqlQuery &query);
    bool exec(const QString &statement);
    bool fail(const QString &why, QString *problem);
    bool failed(const QSqlError &sqlError);
    bool transaction();
    bool commit();
    void rollback();
    QString whereClause(const HistoryQuery &query, const QString &extra, QVariantList *values);
    QSqlQuery select(const QString &statement, const QVariantList &values);
    QSqlQuery selectRecords(const HistoryQuery &query, const QString &columns, const QString &tail);

    QString name;
    QString error;
    QString where;
    bool shared = false;
    bool opened = false;
    bool outbox = false;
    bool busy = false;
};
