#pragma once

#include "devicesimulator.h"
#include "radiohop.h"

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

    QString name() const { return m_name; }
    // "[name] " with several devices, otherwise nothing: one device logs as it always did.
    QString logPrefix() const { return m_logPrefix; }
    void start() { m_simulator.start(); }
    bool updateSucceeded() const { return m_simulator.updateSucceeded(); }
    QString summary() const { return m_logPrefix + m_simulator.summary(); }

signals:
    void logLine(const QString &line);

private:
    QString m_name;
    QString m_logPrefix;
    DeviceSimulator m_simulator;
    RadioHop m_hop;
};
