#include "cli/stationflash.h"

#include "cli/fleetflash.h"
#include "cli/outputwriter.h"
#include "cli/stationconsole.h"
#include "cli/stationhistory.h"
#include "platform/deviceaccess.h"
#include "platform/signalwatcher.h"
#include "station/station.h"

#include <QEventLoop>
#include <QTimer>
#include <cstdio>

namespace {

// What a reader that stalls is still given once the station has ended.
constexpr int kDrainMs = 3000;

StationOptions stationOptions(const FlashOptions &options)
{
    StationOptions station;
    station.ports = options.targets;
    station.target = options.target;
    station.baudRate = options.baudRate;
    station.probeIntervalMs = options.probeIntervalMs;
    station.goneAfter = options.goneAfter;
    station.count = options.stationCount;
    station.connectAttempts = options.policy.connectAttempts;
    return station;
}

} // namespace

StationFlash::StationFlash(const FlashOptions &options, const UpdateRecord &image)
    : options(options), image(image)
{
}

// The station and its sessions go before the record and the output they feed.
StationFlash::~StationFlash()
{
    station.reset();
    history.reset();
    console.reset();
}

int StationFlash::run(const QByteArray &bytes)
{
    SignalWatcher signalWatcher;
    if (!signalWatcher.install())
        fprintf(stderr, "plovikkit-flash: cannot watch SIGTERM, SIGINT and SIGHUP\n");
    signalWatcher.setSecondSignalEndsProcess(true);
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, [this](int number) { stopBySignal(number); });

    writer = std::make_unique<OutputWriter>(fileno(stdout), fileno(stderr));
    station = std::make_unique<Station>(stationOptions(options), bytes);
    console = std::make_unique<StationConsole>(*writer, options.json, DeviceAccess::stderrIsTerminal(),
                                               station->counters());
    history = std::make_unique<StationHistory>(options, image);
    if (!history->open([this](const QString &text) { console->note(text); })) {
        drainOutput();
        return FleetFlash::ExitUsage;
    }
    if (options.skipDone)
        station->setEarlierCheck([this](const QString &address) { return history->earlierSuccess(address); });
    connectStation();
    if (options.targets.isEmpty())
        console->note(QStringLiteral("station: every serial port that appears from now on is a slot"));
    QEventLoop loop;
    QObject::connect(station.get(), &Station::finished, &loop, &QEventLoop::quit);
    station->start();
    loop.exec();

    history->finish();
    console->summary(history->runId());
    const int status = exitStatus();
    drainOutput();
    return status;
}

void StationFlash::connectStation()
{
    Station *s = station.get();
    QObject::connect(s, &Station::slotAdded, [this](const QString &slot) { console->slotAdded(slot); });
    QObject::connect(s, &Station::slotRemoved, [this](const QString &slot) { console->slotRemoved(slot); });
    QObject::connect(s, &Station::slotStateChanged,
                     [this](const QString &slot, const StationSlotStatus &status) {
                         if (status.state != StationSlotStatus::State::Waiting || status.reason.isEmpty())
                             slotsOpened.insert(slot);
                         console->slotState(slot, status);
                     });
    QObject::connect(s, &Station::consoleLine,
                     [this](const QString &slot, const QString &text) { console->line(slot, text); });
    QObject::connect(s, &Station::progress, [this](const QString &slot, qint64 done, qint64 total) {
        console->progress(slot, done, total);
    });
    QObject::connect(s, &Station::unitStarted, [this](const QString &slot, const QString &device) {
        history->unitStarted(slot, device);
    });
    QObject::connect(s, &Station::unitFinished,
                     [this](const StationUnit &unit) { console->unit(unit, history->unitFinished(unit)); });
}

void StationFlash::stopBySignal(int signalNumber)
{
    if (!signalReason.isEmpty())
        return;
    signalReason = QStringLiteral("stopped by signal %1").arg(signalNumber);
    console->note(signalReason);
    station->stop({UpdateFailure::Kind::StoppedBySignal, signalReason});
}

// A unit that failed fails the run; a station that ended without any unit is fine when it was
// stopped, and says so when none of its ports could ever be used.
int StationFlash::exitStatus() const
{
    const StationCounters &counters = station->counters();
    if (counters.failed() > 0)
        return FleetFlash::ExitUpdateFailed;
    if (counters.passed() + counters.skipped() == 0 && !options.targets.isEmpty() && slotsOpened.isEmpty())
        return FleetFlash::ExitPort;
    return FleetFlash::ExitSuccess;
}

void StationFlash::drainOutput()
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(writer.get(), &OutputWriter::idle, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(kDrainMs);
    while (!writer->isIdle() && deadline.isActive())
        loop.exec();
}
