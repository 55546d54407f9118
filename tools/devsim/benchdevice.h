#pragma once

#include "tools/devsim/benchunit.h"
#include "tools/devsim/simulatoroptions.h"

#include <QObject>
#include <QTimer>
#include <memory>

class DeviceTransport;
class QElapsedTimer;
class SimulatedDevice;

// One device on a bench fixture: it arrives with a fresh bootloader of its own, is updated
// (or not), and leaves the stay time after its update ended. What it saw stays in unit().
class BenchDevice : public QObject
{
    Q_OBJECT
public:
    // `transport` and `clock` stay the caller's and must outlive the device.
    BenchDevice(int port, int number, const SimulatorOptions &options, DeviceTransport *transport,
                const QElapsedTimer *clock, QObject *parent = nullptr);
    ~BenchDevice() override;

    void arrive();
    const BenchUnit &unit() const { return record; }

signals:
    void left();
    void logLine(const QString &line);

private:
    void beginUpdate();
    void endUpdate(bool success, qint64 endedMs);
    void leave();
    qint64 nowMs() const;

    SimulatorOptions settings;
    DeviceTransport *line;
    const QElapsedTimer *benchClock;
    QString deviceName;
    QString linePrefix;
    BenchUnit record;
    std::unique_ptr<SimulatedDevice> device;
    // A tool that stopped in the middle of an update has given it up.
    QTimer quietTimer;
    QTimer stayTimer;
    bool updating = false;
    qint64 updateBeganMs = 0;
    qint64 lastHeardMs = 0;
};
