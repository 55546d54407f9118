#pragma once

#include "tools/devsim/devicesimulator.h"
#include "tools/devsim/radiohop.h"

#include <QObject>
#include <QString>

class DeviceTransport;

// One simulated device as the process plays it: its own bootloader, the radio hop its
// answers cross, and the line (a pty or a gateway) that carries the bytes both ways. With
// several devices in one process, each log line names its device.
class SimulatedDevice : public QObject
{
    Q_OBJECT
public:
    // `transport` stays the caller's; the device only talks through it.
    SimulatedDevice(const QString &name, const SimulatorOptions &options, DeviceTransport *transport,
                    QObject *parent = nullptr);

    QString name() const { return deviceName; }
    // "[name] " with several devices, otherwise nothing: one device logs as it always did.
    QString logPrefix() const { return linePrefix; }
    void start() { simulator.start(); }
    bool updateSucceeded() const { return simulator.updateSucceeded(); }
    QString summary() const { return linePrefix + simulator.summary(); }

signals:
    void logLine(const QString &line);
    void updateStarted();
    void updateConfirmed();
    void firmwareFrameReceived();

private:
    QString deviceName;
    QString linePrefix;
    DeviceSimulator simulator;
    RadioHop radioHop;
};
