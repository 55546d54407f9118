#pragma once

#include "history/historylocation.h"
#include "history/updaterecord.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <memory>

class HistoryStore;
class QTimer;

// The recorder's thread: takes queued records into the local file in one transaction per batch
// and sends the outbox on to the server, trying again after 1 s, 2 s, 4 s ... (at most a minute)
// while the server cannot be reached.
class HistoryWriter : public QObject
{
    Q_OBJECT

public:
    explicit HistoryWriter(const HistoryLocation &location);
    ~HistoryWriter() override;

    // From any thread; false when the queue is full and the record was dropped.
    bool push(const UpdateRecord &record);

    static constexpr int queueLimit = 20000;

public slots:
    void drain();
    // The last batch and one last send to a server already connected; then the stores close.
    void finish();

signals:
    void problem(const QString &text);
    void stored(const QStringList &ids);
    void delivered(const QStringList &ids);

private:
    QList<UpdateRecord> takeQueue();
    bool openLocal();
    bool openServer();
    void storeHeld();
    void sendOutbox();
    bool sendFromMemory();
    bool sendFromLocal();
    void serverLost();
    void retryLater();
    void sayLost();
    void say(const QString &topic, const QString &text);

    HistoryLocation location;
    QMutex mutex;
    QList<UpdateRecord> queue;
    bool drainPosted = false;
    std::unique_ptr<HistoryStore> local;
    std::unique_ptr<HistoryStore> server;
    bool localUnusable = false;
    bool finishing = false;
    QList<UpdateRecord> held;         // what the local file could not take yet
    QList<UpdateRecord> memoryOutbox; // for the server when the local file cannot hold them
    int lost = 0;
    QTimer *retry = nullptr;
    int retryMs = 1000;
    QSet<QString> said;
};
