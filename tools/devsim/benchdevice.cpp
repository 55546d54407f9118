#include "tools/devsim/benchdevice.h"

#include "tools/devsim/simulateddevice.h"

#include <QElapsedTimer>

namespace {

// Longer than the tool's longest wait for an answer (5 s), so a tool that waits out a lost
// answer is not taken for one that gave up.
constexpr int kGivenUpMs = 6000;

} // namespace

BenchDevice::BenchDevice(int port, int number, const SimulatorOptions &options, DeviceTransport *transport,
                         const QElapsedTimer *clock, QObject *parent)
    : QObject(parent), settings(options.forBenchDevice(port, number)), line(transport), benchClock(clock),
      deviceName(SimulatorOptions::benchDeviceName(port, number)),
      linePrefix(options.deviceCount() > 1 ? QStringLiteral("[%1] ").arg(deviceName) : QString())
{
    record.port = port;
    record.address = settings.deviceAddr;
    quietTimer.setSingleShot(true);
    quietTimer.setInterval(kGivenUpMs + settings.replyDelayMs + settings.latencyMs);
    connect(&quietTimer, &QTimer::timeout, this, [this] { endUpdate(false, lastHeardMs); });
    // A coarse timer may fire 5 % early, and the stay is part of what a bench measures.
    stayTimer.setTimerType(Qt::PreciseTimer);
    stayTimer.setSingleShot(true);
    stayTimer.setInterval(settings.stayMs);
    connect(&stayTimer, &QTimer::timeout, this, &BenchDevice::leave);
}

BenchDevice::~BenchDevice() = default;

void BenchDevice::arrive()
{
    record.arrivedMs = nowMs();
    device = std::make_unique<SimulatedDevice>(deviceName, settings, line);
    connect(device.get(), &SimulatedDevice::logLine, this, &BenchDevice::logLine);
    connect(device.get(), &SimulatedDevice::updateStarted, this, &BenchDevice::beginUpdate);
    connect(device.get(), &SimulatedDevice::updateConfirmed, this, [this] { endUpdate(true, nowMs()); });
    // Probes of a tool that gave the update up do not keep it running.
    connect(device.get(), &SimulatedDevice::firmwareFrameReceived, this, [this] {
        lastHeardMs = nowMs();
        if (updating)
            quietTimer.start();
    });
    emit logLine(linePrefix +
                 QStringLiteral("arrived: %1, deviceAddr %2")
                     .arg(TargetKindText::name(settings.target),
                          QStringLiteral("%1").arg(settings.deviceAddr, 8, 16, QLatin1Char('0')).toUpper()));
    device->start();
}

// A bootloader that restarts within one update announces its image again: still the same update.
void BenchDevice::beginUpdate()
{
    if (updating)
        return;
    updating = true;
    updateBeganMs = nowMs();
    if (record.firstFrameMs < 0)
        record.firstFrameMs = updateBeganMs;
    ++record.updates;
    record.result = BenchUnit::Result::Updating;
    quietTimer.start();
    emit logLine(linePrefix + QStringLiteral("update %1 began").arg(record.updates));
}

void BenchDevice::endUpdate(bool success, qint64 endedMs)
{
    if (!updating)
        return;
    updating = false;
    quietTimer.stop();
    record.result = success ? BenchUnit::Result::Success : BenchUnit::Result::Failed;
    if (record.firstUpdateMs < 0)
        record.firstUpdateMs = endedMs - updateBeganMs;
    emit logLine(linePrefix + QStringLiteral("update %1 ended: %2")
                                  .arg(record.updates)
                                  .arg(success ? QStringLiteral("success") : QStringLiteral("given up")));
    stayTimer.start();
}

// Taken off the fixture: whatever it was about to send is lost with it.
void BenchDevice::leave()
{
    const bool cutShort = updating;
    endUpdate(false, nowMs());
    stayTimer.stop();
    device.reset();
    record.leftMs = nowMs();
    emit logLine(linePrefix + (cutShort ? QStringLiteral("left during its update") : QStringLiteral("left")));
    emit left();
}

qint64 BenchDevice::nowMs() const
{
    return benchClock->elapsed();
}
