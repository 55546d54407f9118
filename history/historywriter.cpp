#include "history/historywriter.h"

#include "history/historystore.h"

#include <QThread>
#include <QTimer>

namespace {

const int sendBatch = 500;
const int longestRetryMs = 60000;

QStringList idsOf(const QList<UpdateRecord> &records)
{
    QStringList ids;
    for (const UpdateRecord &record : records)
        ids << record.id;
    return ids;
}

QStringList idsOf(const QList<HistoryStore::Pending> &pending)
{
    QStringList ids;
    for (const HistoryStore::Pending &item : pending)
        ids << item.record.id;
    return ids;
}

// Keeps the newest `limit` records, counting what it drops.
void bound(QList<UpdateRecord> &records, int limit, int *dropped)
{
    if (records.size() <= limit)
        return;
    *dropped += records.size() - limit;
    records.erase(records.begin(), records.end() - limit);
}

} // namespace

HistoryWriter::HistoryWriter(const HistoryLocation &location) : location(location), retry(new QTimer(this))
{
    retry->setSingleShot(true);
    connect(retry, &QTimer::timeout, this, &HistoryWriter::drain);
}

HistoryWriter::~HistoryWriter() = default;

bool HistoryWriter::push(const UpdateRecord &record)
{
    QMutexLocker lock(&mutex);
    if (queue.size() >= queueLimit)
        return false;
    queue << record;
    if (!drainPosted) {
        drainPosted = true;
        QMetaObject::invokeMethod(this, &HistoryWriter::drain, Qt::QueuedConnection);
    }
    return true;
}

QList<UpdateRecord> HistoryWriter::takeQueue()
{
    QMutexLocker lock(&mutex);
    drainPosted = false;
    return std::exchange(queue, {});
}

void HistoryWriter::drain()
{
    held += takeQueue();
    // Opened at once, even with nothing to write: what waits to be sent is there.
    const bool localReady = openLocal();
    if (!held.isEmpty() || !localReady)
        storeHeld();
    if (location.isShared())
        sendOutbox();
}

void HistoryWriter::finish()
{
    finishing = true;
    retry->stop();
    drain();
    if (!held.isEmpty() || !memoryOutbox.isEmpty()) {
        lost += held.size() + memoryOutbox.size();
        sayLost();
    }
    local.reset();
    server.reset();
    QThread::currentThread()->quit();
}

bool HistoryWriter::openLocal()
{
    if (local && local->isOpen())
        return true;
    if (localUnusable)
        return false;
    local = std::make_unique<HistoryStore>();
    local->setOutbox(location.isShared());
    QString problem;
    if (local->openLocal(location.localPath, &problem))
        return true;
    const bool busy = local->wasBusy();
    local.reset();
    if (busy) {
        say(QStringLiteral("write"),
            QStringLiteral(
                "the update history is locked by another program (%1); records wait and are tried again")
                .arg(problem));
        return false;
    }
    localUnusable = true;
    say(QStringLiteral("local"),
        location.isShared()
            ? QStringLiteral("the local history cannot be used (%1); records go straight to the server")
                  .arg(problem)
            : QStringLiteral("the update history cannot be written (%1); updates go on without it")
                  .arg(problem));
    return false;
}

void HistoryWriter::storeHeld()
{
    if (!openLocal() && !localUnusable) {
        bound(held, queueLimit, &lost);
        retryLater();
        return;
    }
    if (localUnusable) {
        if (location.isShared())
            memoryOutbox += held;
        else
            lost += held.size();
        held.clear();
        bound(memoryOutbox, queueLimit, &lost);
        return;
    }
    if (local->write(held)) {
        emit stored(idsOf(held));
        held.clear();
        return;
    }
    say(QStringLiteral("write"),
        QStringLiteral("the update history cannot be written now (%1); records wait and are tried again")
            .arg(local->lastError()));
    bound(held, queueLimit, &lost);
    retryLater();
}

bool HistoryWriter::openServer()
{
    if (server && server->isOpen())
        return true;
    // While finishing, a server that is not connected is left for the next run.
    if (finishing)
        return false;
    server = std::make_unique<HistoryStore>();
    QString problem;
    if (server->open(location, &problem))
        return true;
    server.reset();
    say(QStringLiteral("server"),
        QStringLiteral("the history server cannot be reached (%1); records wait in %2 "
                       "and are sent when it is back")
            .arg(problem, location.localPath));
    return false;
}

void HistoryWriter::sendOutbox()
{
    // While a retry is due, a server that is down is not asked again at every record.
    if (!(server && server->isOpen()) && retry->isActive())
        return;
    if (!openServer()) {
        retryLater();
        return;
    }
    if (!sendFromMemory() || !sendFromLocal()) {
        serverLost();
        return;
    }
    retryMs = 1000;
    if (!held.isEmpty())
        retryLater();
}

bool HistoryWriter::sendFromMemory()
{
    if (memoryOutbox.isEmpty())
        return true;
    QList<HistoryStore::Pending> pending;
    for (const UpdateRecord &record : qAsConst(memoryOutbox))
        pending << HistoryStore::Pending{record, record.result == QLatin1String("running") ? 1 : 2};
    if (!server->deliver(pending))
        return false;
    emit delivered(idsOf(memoryOutbox));
    memoryOutbox.clear();
    return true;
}

// Each record goes once: a record the server has at this revision is not written again, and
// the local file marks it sent only at the revision that went.
bool HistoryWriter::sendFromLocal()
{
    if (!local || !local->isOpen())
        return true;
    for (;;) {
        const QList<HistoryStore::Pending> pending = local->unsent(sendBatch);
        if (pending.isEmpty())
            return true;
        if (!server->deliver(pending))
            return false;
        emit delivered(idsOf(pending));
        if (!local->markSent(pending) || pending.size() < sendBatch)
            return true;
    }
}

void HistoryWriter::serverLost()
{
    say(QStringLiteral("server"),
        QStringLiteral("the history server stopped answering (%1); records wait in %2 "
                       "and are sent when it is back")
            .arg(server->lastError(), location.localPath));
    server.reset();
    retryLater();
}

void HistoryWriter::retryLater()
{
    if (finishing || retry->isActive())
        return;
    retry->start(retryMs);
    retryMs = qMin(retryMs * 2, longestRetryMs);
}

void HistoryWriter::sayLost()
{
    say(QStringLiteral("lost"), QStringLiteral("%1 update record(s) could not be written").arg(lost));
}

void HistoryWriter::say(const QString &topic, const QString &text)
{
    if (said.contains(topic))
        return;
    said.insert(topic);
    emit problem(text);
}
