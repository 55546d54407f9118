#include "cli/flashhistory.h"

#include "cli/flashoptions.h"
#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "platform/portidentity.h"
#include "update/fleetrunner.h"

#include <QElapsedTimer>
#include <QSet>

namespace {

// A lookup slower than this ends the console notes of the run: the update must not wait on them.
constexpr int kSlowLookupMs = 250;

QString dayAndTime(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" UTC");
}

QString imageText(const UpdateRecord &record)
{
    const QString sha = record.imageSha256.left(12);
    return record.imageName.isEmpty() ? sha : QStringLiteral("%1 (%2)").arg(record.imageName, sha);
}

} // namespace

FlashHistory::FlashHistory(const FlashOptions &options, const UpdateRecord &image)
    : options(options), image(image)
{
}

FlashHistory::~FlashHistory() = default;

QString FlashHistory::runId() const
{
    return recorder ? recorder->runId() : QString();
}

bool FlashHistory::open(std::function<void(const QString &)> noteOf)
{
    note = std::move(noteOf);
    const HistoryLocation location = HistoryLocation::fromEnvironment(options.historyUrl);
    recorder = FlashHistory::startRecorder(options, location, note);
    if (options.noHistory && !options.skipDone)
        return true;
    reader = std::make_unique<HistoryStore>();
    QString problem;
    if (reader->open(location, &problem))
        return true;
    readerBroken = true;
    if (options.skipDone) {
        note(QStringLiteral("--skip-done cannot read the update record: %1").arg(problem));
        return false;
    }
    // The recorder says the same of its own store.
    return true;
}

std::unique_ptr<HistoryRecorder> FlashHistory::startRecorder(const FlashOptions &options,
                                                             const HistoryLocation &location,
                                                             std::function<void(const QString &)> note)
{
    if (!options.stationName.isEmpty())
        HistoryRecorder::setStation(options.stationName);
    if (options.noHistory)
        return nullptr;
    auto recorder = std::make_unique<HistoryRecorder>(location);
    QObject::connect(recorder.get(), &HistoryRecorder::problem, recorder.get(),
                     [note](const QString &text) { note(QStringLiteral("history: ") + text); });
    return recorder;
}

void FlashHistory::attach(FleetRunner &fleet, std::function<void(int, const QString &)> consoleOf)
{
    runner = &fleet;
    console = std::move(consoleOf);
    if (!options.usesBroker()) {
        for (const PortIdentity &identity : PortIdentity::of(options.targets))
            ports.append(identity);
    }
    if (options.skipDone && options.usesBroker()) {
        for (int i = 0; i < options.targets.size(); ++i)
            gatewaySkips.insert(i, gatewaySkip(i));
        fleet.setStartGate([this](int index) { return gatewaySkips.value(index); });
    }
    fleet.setDeviceGate([this](int index, const QString &address) { return deviceGate(index, address); });
    QObject::connect(&fleet, &FleetRunner::deviceAnnounced,
                     [this](int index, const QString &address) { devices.insert(index, address); });
    QObject::connect(&fleet, &FleetRunner::tryStarted, [this](int index) { tryStarted(index); });
    QObject::connect(&fleet, &FleetRunner::tryFinished,
                     [this](int index, bool retrying) { tryFinished(index, retrying); });
    QObject::connect(&fleet, &FleetRunner::targetFinished, [this](int index) { targetFinished(index); });
}

UpdateRecord FlashHistory::newRecord(int index) const
{
    UpdateRecord record = recorder->newRecord();
    record.imageSha256 = image.imageSha256;
    record.imageSize = image.imageSize;
    record.imageName = image.imageName;
    record.imageSource = image.imageSource;
    record.target = options.targets.at(index);
    record.targetKind = TargetKindText::name(options.target);
    if (options.usesBroker()) {
        record.link = QStringLiteral("gateway");
        record.gateway = record.target;
    } else {
        record.link = QStringLiteral("serial");
        // An adapter named by its serial number may have moved to another tty since the start.
        const PortIdentity port = PortIdentity::namesSerialNumber(record.target)
                                      ? PortIdentity::of(record.target)
                                      : ports.value(index);
        record.portSerial = port.serialNumber;
        record.portUsbId = port.usbId;
        record.portById = port.byIdPath;
    }
    return record;
}

void FlashHistory::tryStarted(int index)
{
    if (!recorder)
        return;
    const UpdateRecord record = newRecord(index);
    running.insert(index, record);
    recorder->begin(record);
}

void FlashHistory::tryFinished(int index, bool retrying)
{
    if (recorder && running.contains(index))
        completeTry(index, running.take(index), retrying ? QStringLiteral("failed") : resultOf(index));
}

// A target that never started (held back, stopped, or already done) is on record as well.
void FlashHistory::targetFinished(int index)
{
    if (recorder && runner->tries(index) == 0) {
        const UpdateRecord record = newRecord(index);
        recorder->begin(record);
        completeTry(index, record, resultOf(index));
    }
}

void FlashHistory::completeTry(int index, UpdateRecord record, const QString &result)
{
    const UpdateStats stats = runner->stats(index);
    const UpdateFailure &failure = runner->failure(index);
    record.device = stats.device;
    if (stats.splitLen > 0) {
        record.splitLen = stats.splitLen;
        record.packetLen = stats.packetLen;
    }
    record.bytesAcked = qint64(stats.bytesAcked);
    record.repeats = stats.repeats;
    record.timeouts = stats.timeouts;
    record.connectAttempts = stats.connectAttempts;
    record.result = result;
    record.kind = UpdateFailure::kindName(failure.kind);
    record.reason = failure.text;
    record.ended = QDateTime::currentDateTimeUtc();
    record.seconds = double(record.started.msecsTo(record.ended)) / 1000.0;
    recorder->complete(record);
    lastRecord.insert(index, record.id);
}

QString FlashHistory::resultOf(int index) const
{
    if (runner->failure(index).isStop())
        return QStringLiteral("stopped");
    switch (runner->result(index)) {
    case FleetResult::Success:
        return QStringLiteral("success");
    case FleetResult::Skipped:
        return QStringLiteral("skipped");
    case FleetResult::Waiting:
    case FleetResult::Running:
    case FleetResult::Failed:
        break;
    }
    return QStringLiteral("failed");
}

// Right after SPLIT LEN: what the record knows of this device, and whether it already has the image.
QString FlashHistory::deviceGate(int index, const QString &address)
{
    if (!readerUsable())
        return QString();
    noteLastUpdate(index, address);
    if (!options.skipDone || options.usesBroker() || !readerUsable())
        return QString();
    const auto earlier =
        reader->latestFor(address, false, image.imageSha256, TargetKindText::name(options.target));
    if (!earlier && !reader->lastError().isEmpty())
        readerFailed(reader->lastError());
    if (!earlier || earlier->result != QLatin1String("success"))
        return QString();
    return skipReason(*earlier, QStringLiteral("device %1").arg(address)) +
           QStringLiteral("; nothing of the image sent, the device waits in its bootloader");
}

void FlashHistory::noteLastUpdate(int index, const QString &address)
{
    QElapsedTimer clock;
    clock.start();
    const auto latest = reader->latestFor(address, false);
    if (clock.elapsed() > kSlowLookupMs && !options.skipDone)
        readerFailed(QStringLiteral("a lookup took %1 ms").arg(clock.elapsed()));
    if (!latest && !reader->lastError().isEmpty())
        readerFailed(reader->lastError());
    if (!latest)
        return;
    console(index, QStringLiteral("device %1 last updated %2 with %3: %4")
                       .arg(address, dayAndTime(latest->ended.isValid() ? latest->ended : latest->started),
                            imageText(*latest), latest->result));
}

QString FlashHistory::gatewaySkip(int index)
{
    if (!readerUsable())
        return QString();
    const QString gateway = options.targets.at(index);
    const auto earlier =
        reader->latestFor(gateway, true, image.imageSha256, TargetKindText::name(options.target));
    if (!earlier || earlier->result != QLatin1String("success"))
        return QString();
    return skipReason(*earlier, QStringLiteral("gateway %1").arg(gateway)) + QStringLiteral("; nothing sent");
}

QString FlashHistory::skipReason(const UpdateRecord &earlier, const QString &what) const
{
    return QStringLiteral("%1 already has this image: updated %2 at %3")
        .arg(what, dayAndTime(earlier.ended.isValid() ? earlier.ended : earlier.started),
             earlier.station.isEmpty() ? QStringLiteral("an unnamed station") : earlier.station);
}

bool FlashHistory::readerUsable() const
{
    return reader && !readerBroken;
}

void FlashHistory::readerFailed(const QString &what)
{
    if (readerBroken)
        return;
    readerBroken = true;
    note(QStringLiteral("history: no more notes of earlier updates: %1").arg(what));
}

void FlashHistory::finish()
{
    if (recorder && !recorder->finish(kFinishMs))
        note(QStringLiteral("history: not every record was written within %1 s").arg(kFinishMs / 1000));
}

QStringList FlashHistory::failedTargets(const HistoryLocation &location, const QString &run,
                                        const UpdateRecord &image, bool throughGateways, QString *problem)
{
    HistoryStore store;
    if (!store.open(location, problem))
        return {};
    const QList<UpdateRecord> records = store.runRecords(run);
    if (records.isEmpty()) {
        *problem = QStringLiteral("no records of run %1 in %2").arg(run, location.displayName());
        return {};
    }
    if (records.first().imageSha256 != image.imageSha256) {
        *problem = QStringLiteral("run %1 sent image %2, not this one (%3): nothing sent")
                       .arg(run, imageText(records.first()), image.imageSha256.left(12));
        return {};
    }
    if ((records.first().link == QLatin1String("gateway")) != throughGateways) {
        *problem = throughGateways
                       ? QStringLiteral("run %1 went through serial ports: give no --mqtt").arg(run)
                       : QStringLiteral("run %1 went through gateways: give --mqtt HOST").arg(run);
        return {};
    }
    // A target of the run whose latest record with this image (in that run or a later one,
    // such as an earlier --retry-failed) is a success is done.
    QStringList failed;
    QSet<QString> seen;
    for (const UpdateRecord &record : records) {
        if (seen.contains(record.target))
            continue;
        seen.insert(record.target);
        HistoryQuery latest;
        latest.target = record.target;
        latest.imageSha256 = image.imageSha256;
        latest.limit = 1;
        const QList<UpdateRecord> found = store.find(latest);
        const QString result = found.isEmpty() ? record.result : found.first().result;
        if (result != QLatin1String("success"))
            failed << record.target;
    }
    return failed;
}
