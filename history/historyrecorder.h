#pragma once

#include "history/historylocation.h"
#include "history/updaterecord.h"

#include <QObject>
#include <QString>

class QThread;
class HistoryWriter;

// Records the updates of a program off its path: begin() and complete() only queue the record
// (bounded); a thread of its own writes it into the local file with a store of its own, and from
// there to the shared server when there is one (each record once, keyed by its id; while the
// server cannot be reached, records wait in the local file and go when it is back, or at the next
// run). A store that cannot take them is said once through problem(), and updates go on.
class HistoryRecorder : public QObject
{
    Q_OBJECT

public:
    explicit HistoryRecorder(const HistoryLocation &location, QObject *parent = nullptr);
    ~HistoryRecorder() override;

    QString runId() const { return run; }
    void setRunId(const QString &id) { run = id; }

    // What every new record of this process says about where and by whom it was made.
    static void setStation(const QString &station);
    static void setOperatorAccount(const QString &account);
    static QString station();
    static QString operatorName();

    // A new record of this run, or of `run`: a new id, started now (UTC), station, operator, the
    // tool's version, result "running".
    UpdateRecord newRecord() const { return newRecord(run); }
    static UpdateRecord newRecord(const QString &run);

    void begin(const UpdateRecord &record);
    void complete(const UpdateRecord &record);
    // Writes what is queued and closes the stores, waiting at most waitMs; false when the time
    // ran out first (what was not written then is lost, and said).
    bool finish(int waitMs);

signals:
    // Once for each store that cannot take records (and once when the queue overflows).
    void problem(const QString &text);
    // Records now in the local store (ids), and those now on the server.
    void stored(const QStringList &ids);
    void delivered(const QStringList &ids);

private:
    void enqueue(const UpdateRecord &record);

    QString run;
    QThread *thread = nullptr;
    HistoryWriter *writer = nullptr;
    bool finished = false;
    bool overflowSaid = false;
};
