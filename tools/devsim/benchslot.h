#pragma once

#include "tools/devsim/benchunit.h"
#include "tools/devsim/simulatoroptions.h"

#include <QList>
#include <QObject>
#include <QTimer>

class BenchDevice;
class DeviceTransport;
class QElapsedTimer;

// One fixture of a bench: its devices come one at a time on the same line, each the
// arrival time after the previous one left. While it is empty nothing answers on the line.
class BenchSlot : public QObject
{
    Q_OBJECT
public:
    // `transport` and `clock` stay the caller's and must outlive the slot.
    BenchSlot(int port, const SimulatorOptions &options, DeviceTransport *transport,
              const QElapsedTimer *clock, QObject *parent = nullptr);

    void start();
    bool isDone() const { return departed.size() == settings.devicesPerPort; }
    // Every device that arrived so far, in order, the one on the fixture last.
    QList<BenchUnit> units() const;

signals:
    // The last of its devices has left.
    void done();
    void logLine(const QString &line);

private:
    void arriveNext();
    void takeOff();

    int portNumber;
    SimulatorOptions settings;
    DeviceTransport *line;
    const QElapsedTimer *benchClock;
    QTimer arrivalTimer;
    BenchDevice *present = nullptr;
    QList<BenchUnit> departed;
};
