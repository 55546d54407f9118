#pragma once

#include "history/historylocation.h"
#include "history/updaterecord.h"
#include "update/fleetrunner.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class HistoryRecorder;
class HistoryStore;
class QSettings;
struct UpdateFailure;
struct UpdateStats;

// The window's share of the update record: the recorder its updates write through (off the
// window's path, in the recorder's thread), a store of its own on the GUI thread for what the
// window reads back (the page, "last updated"), and the two settings that say where and as
// which station. A store that cannot be reached is said once in the console; no update waits
// for it or fails because of it.
class WindowHistory : public QObject
{
    Q_OBJECT
public:
    using Console = std::function<void(const QString &)>;

    explicit WindowHistory(Console console, QObject *parent = nullptr);
    ~WindowHistory() override;

    // The settings: the store's URL (empty: PLOVIKKIT_HISTORY_URL, else the local file) and the
    // station's name (empty: the host name).
    QString urlSetting() const { return url; }
    QString stationSetting() const { return station; }
    void changeSettings(const QString &newUrl, const QString &newStation);
    HistoryLocation location() const;

    // A record of `run` made now, by the user and, when one is logged in, the cloud account.
    UpdateRecord newRecord(const QString &run, const QString &cloudAccount) const;
    void begin(const UpdateRecord &record);
    void complete(const UpdateRecord &record);
    // What an ended target leaves in its record: result, failure, the session's counts, the time.
    // A stop is "stopped" whatever it hit; a target that never started is "skipped".
    static void endRecord(UpdateRecord *record, FleetResult result, const UpdateFailure &failure,
                          const UpdateStats &stats, qint64 ms);

    // The GUI thread's connection for reading; null (said once) when the store cannot be opened.
    HistoryStore *reader();
    // "device D was last updated ..." when the device is on record, else empty.
    QString lastUpdateLine(const QString &device);
    // Why a gateway needs no update: its latest record with this image and kind is a success
    // (the reason names when and where); empty when it needs one or the store cannot say.
    QString doneReason(const QString &gateway, const QString &imageSha256, const QString &targetKind);
    // The targets of `run` whose latest record is no success and that have not had its image
    // since, in the run's order; empty with the reason when the run is unknown or was made with
    // another image than `imageSha256`.
    QStringList unfinishedTargets(const QString &run, const QString &imageSha256, QString *problem);

signals:
    // Records reached the store: what shows them reads again.
    void recordsWritten();
    // The settings move the store: whatever reads on its connection lets go of it now.
    void storeClosing();

private:
    HistoryRecorder &recorder();
    void dropStores();
    void say(const QString &text);

    Console console;
    QSettings *settings = nullptr;
    QString url;
    QString station;
    std::unique_ptr<HistoryRecorder> writer;
    std::unique_ptr<HistoryStore> readStore;
    bool readerFailed = false;
};
