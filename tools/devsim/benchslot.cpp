#include "tools/devsim/benchslot.h"

#include "tools/devsim/benchdevice.h"

BenchSlot::BenchSlot(int port, const SimulatorOptions &options, DeviceTransport *transport,
                     const QElapsedTimer *clock, QObject *parent)
    : QObject(parent), portNumber(port), settings(options), line(transport), benchClock(clock)
{
    arrivalTimer.setTimerType(Qt::PreciseTimer);
    arrivalTimer.setSingleShot(true);
    arrivalTimer.setInterval(settings.arriveAfterMs);
    connect(&arrivalTimer, &QTimer::timeout, this, &BenchSlot::arriveNext);
}

void BenchSlot::start()
{
    arrivalTimer.start();
}

QList<BenchUnit> BenchSlot::units() const
{
    QList<BenchUnit> all = departed;
    if (present)
        all.append(present->unit());
    return all;
}

void BenchSlot::arriveNext()
{
    const int number = departed.size() + 1;
    present = new BenchDevice(portNumber, number, settings, line, benchClock, this);
    connect(present, &BenchDevice::logLine, this, &BenchSlot::logLine);
    connect(present, &BenchDevice::left, this, &BenchSlot::takeOff);
    present->arrive();
}

void BenchSlot::takeOff()
{
    departed.append(present->unit());
    // It is still inside its own timer's signal.
    present->deleteLater();
    present = nullptr;
    if (isDone())
        emit done();
    else
        arrivalTimer.start();
}
