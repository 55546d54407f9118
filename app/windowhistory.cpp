#include "app/windowhistory.h"

#include "core/debugtrace.h"
#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "storage/configini.h"
#include "storage/settingskeys.h"
#include "update/updatefailure.h"
#include "update/updatestats.h"

#include <QHash>
#include <QSettings>

namespace {

// Closing the window waits this long at most for records still queued.
constexpr int kFinishWaitMs = 3000;

QString resultName(FleetResult result, const UpdateFailure &failure)
{
    if (failure.isStop())
        return QStringLiteral("stopped");
    if (result == FleetResult::Success)
        return QStringLiteral("success");
    if (result == FleetResult::Skipped || failure.kind == UpdateFailure::Kind::AlreadyDone)
        return QStringLiteral("skipped");
    return QStringLiteral("failed");
}

} // namespace

WindowHistory::WindowHistory(Console console, QObject *parent)
    : QObject(parent), console(std::move(console)), settings(ConfigIni::open(this))
{
    url = settings->value(SettingsKeys::historyUrl).toString();
    station = settings->value(SettingsKeys::historyStation).toString();
}

// Records still queued are written before the window goes, within a bound.
WindowHistory::~WindowHistory()
{
    readStore.reset();
    if (writer)
        writer->finish(kFinishWaitMs);
}

void WindowHistory::changeSettings(const QString &newUrl, const QString &newStation)
{
    station = newStation.trimmed();
    settings->setValue(SettingsKeys::historyStation, station);
    if (newUrl.trimmed() != url) {
        url = newUrl.trimmed();
        settings->setValue(SettingsKeys::historyUrl, url);
        emit storeClosing();
        dropStores();
        emit recordsWritten();
    }
    QString why;
    if (!ConfigIni::sync(settings, &why))
        say(QStringLiteral("history settings not saved: ") + why);
}

HistoryLocation WindowHistory::location() const
{
    return HistoryLocation::fromEnvironment(url);
}

UpdateRecord WindowHistory::newRecord(const QString &run, const QString &cloudAccount) const
{
    HistoryRecorder::setOperatorAccount(cloudAccount);
    HistoryRecorder::setStation(station);
    return HistoryRecorder::newRecord(run);
}

void WindowHistory::begin(const UpdateRecord &record)
{
    recorder().begin(record);
}

void WindowHistory::complete(const UpdateRecord &record)
{
    recorder().complete(record);
}

void WindowHistory::endRecord(UpdateRecord *record, FleetResult result, const UpdateFailure &failure,
                              const UpdateStats &stats, qint64 ms)
{
    const bool succeeded = result == FleetResult::Success;
    record->ended = QDateTime::currentDateTimeUtc();
    record->result = resultName(result, failure);
    record->kind = succeeded ? QString() : UpdateFailure::kindName(failure.kind);
    record->reason = succeeded ? QString() : failure.text;
    if (!stats.device.isEmpty())
        record->device = stats.device;
    if (stats.splitLen > 0) {
        record->splitLen = stats.splitLen;
        record->packetLen = stats.packetLen;
    }
    record->bytesAcked = qint64(stats.bytesAcked);
    record->repeats = stats.repeats;
    record->timeouts = stats.timeouts;
    record->connectAttempts = stats.connectAttempts;
    record->seconds = double(ms) / 1000.0;
}

// Opened at the first read, not at start-up: a server that does not answer would hold the
// window before it is shown. A store that failed is tried again only once the settings change.
HistoryStore *WindowHistory::reader()
{
    if (readStore)
        return readStore.get();
    if (readerFailed)
        return nullptr;
    auto store = std::make_unique<HistoryStore>();
    QString problem;
    if (!store->open(location(), &problem)) {
        readerFailed = true;
        say(QStringLiteral("update history cannot be read: ") + problem);
        return nullptr;
    }
    readStore = std::move(store);
    return readStore.get();
}

QString WindowHistory::lastUpdateLine(const QString &device)
{
    HistoryStore *store = reader();
    if (!store || device.isEmpty())
        return QString();
    const std::optional<UpdateRecord> last = store->latestFor(device, false);
    if (!last)
        return QString();
    QString ending = last->result;
    if (!last->reason.isEmpty())
        ending += QStringLiteral(" (%1)").arg(last->reason);
    return QStringLiteral("device %1 was last updated %2 at %3 with %4 (sha256 %5): %6")
        .arg(device, UpdateRecord::timeText(last->ended.isValid() ? last->ended : last->started),
             last->station, last->imageName.isEmpty() ? last->imageSource : last->imageName,
             last->imageSha256.left(16), ending);
}

QString WindowHistory::doneReason(const QString &gateway, const QString &imageSha256,
                                  const QString &targetKind)
{
    HistoryStore *store = reader();
    if (!store)
        return QString();
    const std::optional<UpdateRecord> last = store->latestFor(gateway, true, imageSha256, targetKind);
    if (!last || last->result != QLatin1String("success"))
        return QString();
    return QStringLiteral("already has this image: updated %1 at %2")
        .arg(UpdateRecord::timeText(last->ended), last->station);
}

QStringList WindowHistory::unfinishedTargets(const QString &run, const QString &imageSha256, QString *problem)
{
    HistoryStore *store = reader();
    if (!store) {
        *problem = QStringLiteral("the update history cannot be read");
        return {};
    }
    const QList<UpdateRecord> records = store->runRecords(run);
    if (records.isEmpty()) {
        *problem = QStringLiteral("run %1 is not on record").arg(run);
        return {};
    }
    if (records.first().imageSha256 != imageSha256) {
        *problem =
            QStringLiteral("run %1 sent another image (sha256 %2)").arg(run, records.first().imageSha256);
        return {};
    }
    // Oldest first: the last record of a target is its latest try.
    QStringList order;
    QHash<QString, QString> latestResult;
    for (const UpdateRecord &record : records) {
        if (!latestResult.contains(record.target))
            order << record.target;
        latestResult.insert(record.target, record.result);
    }
    // A gateway updated with this image since (by a retry of the run, or another run) is done too.
    const QString kind = records.first().targetKind;
    QStringList unfinished;
    for (const QString &target : qAsConst(order)) {
        if (latestResult.value(target) != QLatin1String("success") &&
            doneReason(target, imageSha256, kind).isEmpty())
            unfinished << target;
    }
    return unfinished;
}

// Made at the first record: a window that never updates leaves no store behind.
HistoryRecorder &WindowHistory::recorder()
{
    if (!writer) {
        writer = std::make_unique<HistoryRecorder>(location());
        connect(writer.get(), &HistoryRecorder::problem, this, &WindowHistory::say);
        connect(writer.get(), &HistoryRecorder::stored, this, &WindowHistory::recordsWritten);
        connect(writer.get(), &HistoryRecorder::delivered, this, &WindowHistory::recordsWritten);
    }
    return *writer;
}

void WindowHistory::dropStores()
{
    readStore.reset();
    readerFailed = false;
    if (writer) {
        writer->finish(kFinishWaitMs);
        writer.reset();
    }
}

void WindowHistory::say(const QString &text)
{
    MAIN_TRACE(lcApp) << text;
    if (console)
        console(text);
}
