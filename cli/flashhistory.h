#pragma once

#include "history/updaterecord.h"
#include "platform/portidentity.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <memory>

class FleetRunner;
class HistoryRecorder;
class HistoryStore;
struct FlashOptions;
struct HistoryLocation;

// The flasher's part in the update record. Each try of each target writes a record when it
// starts and completes it when it ends, through a HistoryRecorder whose own thread does the
// writing; a target that never started gets a record of its ending. Small queries (when a
// device was last updated, whether --skip-done may skip it) go to a reader store on this
// thread, bounded by the store's time-outs; a slow or broken store ends the console notes, never
// an update. Without recording (--no-history) the device addresses are still kept for the
// report.
class FlashHistory
{
public:
    // `image` holds the facts of the image (SHA-256, size, name, source) every record repeats.
    FlashHistory(const FlashOptions &options, const UpdateRecord &image);
    ~FlashHistory();
    FlashHistory(const FlashHistory &) = delete;
    FlashHistory &operator=(const FlashHistory &) = delete;

    // Starts recording and opens the reader. Each problem of the store is said once through
    // `note`; false when --skip-done was asked and the store cannot be read.
    bool open(std::function<void(const QString &)> note);
    // Records every try of the runner's targets and answers its gates; `console` writes a line
    // into a target's console.
    void attach(FleetRunner &runner, std::function<void(int index, const QString &text)> console);

    bool isRecording() const { return recorder != nullptr; }
    QString runId() const;
    // The record of a target's last try, empty without one; the address its device announced.
    QString recordId(int index) const { return lastRecord.value(index); }
    QString deviceOf(int index) const { return devices.value(index); }

    // Writes what is still queued, waiting at most kFinishMs.
    void finish();
    static constexpr int kFinishMs = 5000;

    // The targets of `run` whose latest record with this image (there or since) is not a success,
    // in the run's order. Empty with a
    // reason when the store cannot be read, RUN is unknown, or it went another way or with another
    // image than `image`.
    // The recorder of a run, unless --no-history; a problem of its store is said through `note`.
    // Names the station the records carry, when one was given.
    static std::unique_ptr<HistoryRecorder> startRecorder(const FlashOptions &options,
                                                          const HistoryLocation &location,
                                                          std::function<void(const QString &)> note);
    static QStringList failedTargets(const HistoryLocation &location, const QString &run,
                                     const UpdateRecord &image, bool throughGateways, QString *problem);

private:
    UpdateRecord newRecord(int index) const;
    void tryStarted(int index);
    void tryFinished(int index, bool retrying);
    void targetFinished(int index);
    void completeTry(int index, UpdateRecord record, const QString &result);
    QString resultOf(int index) const;
    QString deviceGate(int index, const QString &address);
    void noteLastUpdate(int index, const QString &address);
    QString gatewaySkip(int index);
    QString skipReason(const UpdateRecord &earlier, const QString &what) const;
    bool readerUsable() const;
    void readerFailed(const QString &what);

    const FlashOptions &options;
    UpdateRecord image;
    std::unique_ptr<HistoryRecorder> recorder;
    std::unique_ptr<HistoryStore> reader;
    bool readerBroken = false;
    std::function<void(const QString &)> note;
    std::function<void(int, const QString &)> console;
    FleetRunner *runner = nullptr;
    QVector<PortIdentity> ports;
    QHash<int, UpdateRecord> running;
    QHash<int, QString> lastRecord;
    QHash<int, QString> devices;
    QHash<int, QString> gatewaySkips;
};
