#pragma once

#include "station/stationoptions.h"
#include "station/stationslotstatus.h"
#include "station/stationunit.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class HeldRequestLink;
class SerialChannel;
class SerialUpdateLink;
class UpdateReporter;
class UpdateSession;

// One port of a station and its loop: wait for a device, update it, wait until it is gone.
//
// While empty the slot sends the boot entry every probe interval (a demo board needs none: it
// announces itself); the SPLIT LEN that arrives names the device, and the update starts from it
// through the same engine as every other update, without a second boot entry. A device already
// done is not touched: only the probe goes on, to see it leave. A device is gone when its port
// goes, another address answers, or goneAfter probes in a row go unanswered.
//
// Nothing repeats on a clock: one single-shot deadline per probe, re-armed after it.
class StationSlot : public QObject
{
    Q_OBJECT
public:
    using State = StationSlotStatus::State;
    // Why `address` must not be updated now (done in this run, or an earlier record); empty: go.
    using DoneCheck = std::function<QString(const QString &address)>;

    // `port` as given: a name, a device path or serial:SN (resolved at each open). `image` must
    // outlive the slot.
    StationSlot(const QString &port, const StationOptions &options, const QByteArray &image,
                QObject *parent = nullptr);
    ~StationSlot() override;

    void setDoneCheck(DoneCheck check) { doneCheck = std::move(check); }

    // Opens the port (or says why not) and begins to wait for a device.
    void start();
    // A running update ends with its report (`why` as its failure); the slot then sends nothing
    // more and closes its port.
    void stop(const UpdateFailure &why);
    // Takes no further device; a running update ends as it would, then the port closes.
    void drain();
    // The port list changed: a slot whose port is closed tries to open it again.
    void portsChanged();
    // Another slot holds a device of the same address while this one updates it.
    void markSeenTwice();

    QString port() const { return portName; }
    const StationSlotStatus &status() const { return shown; }
    State state() const { return shown.state; }
    bool isBusy() const { return shown.state == State::Busy; }
    // The address of the device on the slot now (busy, passed, failed or to remove); empty when none.
    QString deviceOnSlot() const;
    // A device is on the slot (its address may be unknown: one that never named itself).
    bool holdsDevice() const;
    bool isStopped() const { return stopped || draining; }

signals:
    void statusChanged(const StationSlotStatus &status);
    void consoleLine(const QString &text);
    void progress(qint64 done, qint64 total);
    // An update of `device` begins (its record starts here).
    void unitStarted(const QString &device);
    void unitFinished(const StationUnit &unit);

private:
    void tryOpen();
    void openFailedHere(const QString &reason, bool tryAgainSoon);
    void onPortLost(const QString &reason);
    void portWentAway(const QString &reason);
    void probe();
    void endProbe();
    void awaitProbeAnswer();
    void waitForNextProbe();
    void onBootEntryDone();
    void onProbeReply(const QByteArray &reply);
    void onProbeTimedOut();
    void deviceAnswered(const QByteArray &splitLen, const QString &address);
    void noAnswer();
    void failMuted();
    void beginUnit(const QByteArray &splitLen, const QString &address);
    void onSessionFinished();
    void afterUnit();
    void skipDone(const QString &address, const QString &why);
    void deviceGone(const QString &why);
    void show(State state, const QString &device = QString(), const QString &reason = QString(),
              const QString &check = QString());

    QString portName;
    const StationOptions options;
    const QByteArray &image;
    DoneCheck doneCheck;
    std::unique_ptr<SerialChannel> channel;
    std::unique_ptr<SerialUpdateLink> link;
    std::unique_ptr<HeldRequestLink> heldLink;
    std::unique_ptr<UpdateReporter> reporter;
    std::unique_ptr<UpdateSession> session;
    StationSlotStatus shown;
    // Opens the port again: one that is there but held by another program, or just lost.
    QTimer reopenTimer;
    QElapsedTimer probeClock;
    bool probing = false;
    bool probeAnswered = false;
    quint64 bytesBeforeProbe = 0;
    int unansweredProbes = 0;
    int mutedProbes = 0;
    bool seenTwice = false;
    bool stopped = false;
    bool draining = false;
    QElapsedTimer unitClock;
};
