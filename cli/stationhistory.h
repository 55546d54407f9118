#pragma once

#include "history/updaterecord.h"
#include "station/stationunit.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>

class HistoryRecorder;
class HistoryStore;
struct FlashOptions;

// The station's part in the update record: the whole station is one run; each unit's record
// begins when its update starts and is completed when it ends (a unit turned away as done gets a
// record of its own, skipped). With --skip-done it answers whether an earlier record already has
// this image on a device. A store that cannot take records is said once and the station goes on.
class StationHistory
{
public:
    StationHistory(const FlashOptions &options, const UpdateRecord &image);
    ~StationHistory();
    StationHistory(const StationHistory &) = delete;
    StationHistory &operator=(const StationHistory &) = delete;

    // False when --skip-done was asked and the store cannot be read.
    bool open(std::function<void(const QString &)> note);
    QString runId() const;

    // Why `address` must not be updated: an earlier success with this image and kind (--skip-done).
    QString earlierSuccess(const QString &address);
    void unitStarted(const QString &slot, const QString &device);
    // The id of the unit's record; empty without recording.
    QString unitFinished(const StationUnit &unit);

    // Writes what is still queued, bounded.
    void finish();
    static constexpr int kFinishMs = 5000;

    // The text a success met by another device of its address leaves in its record's reason.
    static QString seenTwiceText();

private:
    UpdateRecord newRecord(const QString &slot) const;

    const FlashOptions &options;
    UpdateRecord image;
    std::unique_ptr<HistoryRecorder> recorder;
    std::unique_ptr<HistoryStore> reader;
    bool readerBroken = false;
    std::function<void(const QString &)> note;
    // The record of each slot's unit under way.
    QHash<QString, UpdateRecord> running;
};
