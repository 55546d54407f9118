#pragma once

#include "station/stationcounters.h"
#include "station/stationoptions.h"
#include "station/stationslotstatus.h"
#include "station/stationunit.h"
#include "update/updatefailure.h"

#include <QByteArray>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class StationPorts;
class StationSlot;

// A production station: slots that each take one device after another and update it with the
// one image, every device once per run. Its slots are the ports given, or every serial port that
// appears while it runs (a slot each, until the port disappears; ports there at the start are
// left alone). It counts what passed and failed, ends after `count` passed units or on stop(),
// and tells the programs everything through signals; it shows and records nothing itself.
class Station : public QObject
{
    Q_OBJECT
public:
    // Why `address` must not be updated, beyond this run's own done set (an earlier record, as
    // --skip-done asks); empty: update it.
    using EarlierCheck = std::function<QString(const QString &address)>;

    Station(const StationOptions &options, const QByteArray &image, QObject *parent = nullptr);
    ~Station() override;

    void setEarlierCheck(EarlierCheck check) { earlierCheck = std::move(check); }

    void start();
    // Each running update ends with its report (`why` as its failure), then finished().
    void stop(const UpdateFailure &why);

    bool isRunning() const { return running; }
    const StationOptions &options() const { return settings; }
    const StationCounters &counters() const { return tally; }
    // The slots now, by their ports as given (or as the system lists them).
    QStringList slotNames() const;
    StationSlotStatus slotStatus(const QString &slot) const;
    // The addresses this run updated with success.
    const QSet<QString> &doneDevices() const { return done; }

signals:
    void slotAdded(const QString &slot);
    void slotRemoved(const QString &slot);
    void slotStateChanged(const QString &slot, const StationSlotStatus &status);
    void progress(const QString &slot, qint64 done, qint64 total);
    void consoleLine(const QString &slot, const QString &text);
    void unitStarted(const QString &slot, const QString &device);
    void unitFinished(const StationUnit &unit);
    // The run has ended: after `count` passed units or stop(), once every update has ended.
    void finished();

private:
    StationSlot *addSlot(const QString &port);
    void removeSlot(const QString &port);
    void onPortsChanged(const QStringList &appeared, const QStringList &disappeared);
    QString doneReason(const QString &address) const;
    void onUnitStarted(StationSlot *slot, const QString &device);
    void onUnitFinished(const StationUnit &unit);
    void finishWhenIdle();
    StationSlot *slotOf(const QString &port) const;

    StationOptions settings;
    QByteArray image;
    EarlierCheck earlierCheck;
    std::vector<StationSlot *> slotList;
    StationPorts *ports = nullptr;
    StationCounters tally;
    QSet<QString> done;
    bool running = false;
    bool stopping = false;
    UpdateFailure stopCause;
};
