#include "cli/stationhistory.h"

#include "cli/flashhistory.h"
#include "cli/flashoptions.h"
#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "platform/portidentity.h"

StationHistory::StationHistory(const FlashOptions &options, const UpdateRecord &image)
    : options(options), image(image)
{
}

StationHistory::~StationHistory() = default;

QString StationHistory::runId() const
{
    return recorder ? recorder->runId() : QString();
}

QString StationHistory::seenTwiceText()
{
    return QStringLiteral("address seen twice: another slot held a device of this address at the same time");
}

bool StationHistory::open(std::function<void(const QString &)> noteOf)
{
    note = std::move(noteOf);
    const HistoryLocation location = HistoryLocation::fromEnvironment(options.historyUrl);
    recorder = FlashHistory::startRecorder(options, location, note);
    if (!options.skipDone)
        return true;
    reader = std::make_unique<HistoryStore>();
    QString problem;
    if (reader->open(location, &problem))
        return true;
    note(QStringLiteral("--skip-done cannot read the update record: %1").arg(problem));
    return false;
}

// A store that stops answering mid-run no longer holds a device back: the run's own done set
// still keeps every device from a second update.
QString StationHistory::earlierSuccess(const QString &address)
{
    if (!reader || readerBroken)
        return QString();
    const auto earlier =
        reader->latestFor(address, false, image.imageSha256, TargetKindText::name(options.target));
    if (!earlier && !reader->lastError().isEmpty()) {
        readerBroken = true;
        note(QStringLiteral("history: --skip-done no longer reads the record: %1").arg(reader->lastError()));
    }
    if (!earlier || earlier->result != QLatin1String("success"))
        return QString();
    return QStringLiteral("done at %1 on %2: remove the device")
        .arg(earlier->station.isEmpty() ? QStringLiteral("an unnamed station") : earlier->station,
             (earlier->ended.isValid() ? earlier->ended : earlier->started)
                     .toUTC()
                     .toString(QStringLiteral("yyyy-MM-dd HH:mm")) +
                 QStringLiteral(" UTC"));
}

UpdateRecord StationHistory::newRecord(const QString &slot) const
{
    UpdateRecord record = recorder->newRecord();
    record.imageSha256 = image.imageSha256;
    record.imageSize = image.imageSize;
    record.imageName = image.imageName;
    record.imageSource = image.imageSource;
    record.target = slot;
    record.targetKind = TargetKindText::name(options.target);
    record.link = QStringLiteral("serial");
    const PortIdentity port = PortIdentity::of(slot);
    record.portSerial = port.serialNumber;
    record.portUsbId = port.usbId;
    record.portById = port.byIdPath;
    return record;
}

void StationHistory::unitStarted(const QString &slot, const QString &device)
{
    if (!recorder)
        return;
    UpdateRecord record = newRecord(slot);
    record.device = device;
    running.insert(slot, record);
    recorder->begin(record);
}

QString StationHistory::unitFinished(const StationUnit &unit)
{
    if (!recorder)
        return QString();
    UpdateRecord record;
    if (running.contains(unit.slot)) {
        record = running.take(unit.slot);
    } else {
        record = newRecord(unit.slot);
        recorder->begin(record);
    }
    record.device = unit.device;
    if (unit.stats.splitLen > 0) {
        record.splitLen = unit.stats.splitLen;
        record.packetLen = unit.stats.packetLen;
    }
    record.bytesAcked = qint64(unit.stats.bytesAcked);
    record.repeats = unit.stats.repeats;
    record.timeouts = unit.stats.timeouts;
    record.connectAttempts = unit.stats.connectAttempts;
    record.result = unit.failure.isStop() ? QStringLiteral("stopped") : StationUnit::resultName(unit.result);
    record.kind = UpdateFailure::kindName(unit.failure.kind);
    record.reason = unit.failure.text;
    if (unit.seenTwice)
        record.reason = record.reason.isEmpty() ? seenTwiceText()
                                                : record.reason + QStringLiteral("; ") + seenTwiceText();
    record.ended = QDateTime::currentDateTimeUtc();
    record.seconds = double(record.started.msecsTo(record.ended)) / 1000.0;
    recorder->complete(record);
    return record.id;
}

void StationHistory::finish()
{
    if (recorder && !recorder->finish(kFinishMs))
        note(QStringLiteral("history: not every record was written within %1 s").arg(kFinishMs / 1000));
}
