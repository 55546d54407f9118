#pragma once

#include "update/updatefailure.h"
#include "update/updatesession.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class UpdateLink;
class UpdateReporter;

// What became of one target of a fleet.
enum class FleetResult
{
    Waiting,
    Running,
    Success,
    Failed,
    Skipped,
};

struct FleetPolicy
{
    // At most this many sessions at once; 0: all of them.
    int parallel = 0;
    // The first `canary` targets are updated first; the others start only when all of those
    // succeeded, otherwise they are skipped.
    int canary = 0;
    // Once this many targets have failed no further target starts; 0: no limit.
    int maxFailures = 0;
    // Each session asks its device into the bootloader this many times before it gives up.
    int connectAttempts = UpdateSession::kConnectAttempts;
    // A target that failed for a reason of the link (UpdateFailure::isRetryable) is tried again
    // up to this many times, 0 to kMaxRetries, after 2 s, 4 s, 8 s ... A target keeps its place
    // among the `parallel` ones while it waits, and waits longer while launches are held.
    int retries = 0;
    static constexpr int kMaxRetries = 10;
    static constexpr int kFirstRetryDelayMs = 2000;
};

// Updates many devices with one image, each through its own link and session, all on the
// caller's thread. Targets start in the order given, as the policy allows; a target whose
// link cannot be made (a port that does not open) fails alone, with its reason. A target that
// never starts (held back by the policy, or the run was stopped) is skipped, never failed.
class FleetRunner : public QObject
{
    Q_OBJECT
public:
    // The link of one target, or null with the reason there is none and its kind.
    using LinkFactory = std::function<std::unique_ptr<UpdateLink>(int index, UpdateFailure *problem)>;
    // Where the session of one target reports; it outlives the runner.
    using ReporterFactory = std::function<UpdateReporter &(int index)>;
    // Asked before a target's first try: a non-empty answer skips it (kind AlreadyDone) with
    // that reason, before its link is made.
    using StartGate = std::function<QString(int index)>;
    // Each session's UpdateSession::DeviceGate, told which target asks.
    using DeviceGate = std::function<QString(int index, const QString &address)>;

    FleetRunner(const QStringList &targets, FleetPolicy policy, LinkFactory makeLink,
                ReporterFactory reporterOf, QObject *parent = nullptr);
    ~FleetRunner() override;

    void setStartGate(StartGate gate) { startGate = std::move(gate); }
    void setDeviceGate(DeviceGate gate) { deviceGate = std::move(gate); }

    void start(const QByteArray &image);
    // Ends every running session at once with the text of `why` before its report; the targets
    // not yet started are skipped, with the same reason and kind.
    void abortAll(const UpdateFailure &why);

    // While held, no target starts (the way to them is down); released, they start as the
    // policy allows. A runner may be started held.
    void holdLaunches(bool held);
    // The targets that have not started are skipped with `why`; those running go on.
    void skipWaiting(const UpdateFailure &why);

    bool isRunning() const { return started && !done; }
    int size() const { return int(targets.size()); }
    QString name(int index) const { return targets.at(size_t(index)).name; }
    FleetResult result(int index) const { return targets.at(size_t(index)).result; }
    // Why a target failed or was skipped; of kind None (and empty) after a success.
    const UpdateFailure &failure(int index) const { return targets.at(size_t(index)).failure; }
    QString reason(int index) const { return failure(index).text; }
    qint64 elapsedMs(int index) const;
    // Tries started for a target so far: 0 for one skipped before it started.
    int tries(int index) const { return targets.at(size_t(index)).tries; }
    // What the session of the target's current or last try learnt and counted; empty before a
    // session ran and once the runner has let go of it (after the try's signals).
    UpdateStats stats(int index) const;
    int count(FleetResult result) const;
    qint64 totalMs() const { return clock.isValid() ? clock.elapsed() : 0; }

signals:
    // Once per target: its first try starts, and it has ended for good.
    void targetStarted(int index);
    void targetFinished(int index);
    // Once per try (each is a record of its own), before targetFinished of the last one: when
    // `retrying`, the try failed (failure(index) says why) and another follows.
    void tryStarted(int index, int attempt);
    void tryFinished(int index, bool retrying);
    // SPLIT LEN named the target's device.
    void deviceAnnounced(int index, const QString &address);
    void finished();

private:
    struct Target
    {
        QString name;
        FleetResult result = FleetResult::Waiting;
        UpdateFailure failure;
        QElapsedTimer clock;
        qint64 ms = 0;
        int tries = 0;
        bool tryOpen = false;
        bool retryPending = false;
        bool retryDue = false; // its time has come while launches are held
        std::unique_ptr<UpdateLink> link;
        std::unique_ptr<UpdateSession> session;
    };

    void launchMore();
    bool mayStartAnother() const;
    bool canariesDone() const;
    UpdateFailure skipCause() const;
    void launch(int index);
    void launchTry(int index);
    void onSessionFinished(int index);
    void tryEnded(int index, FleetResult result, const UpdateFailure &failure);
    bool retryLater(int index, const UpdateFailure &failure);
    void retryNow(int index);
    void endTry(int index, bool retrying);
    void dropPendingRetries();
    void settle(int index, FleetResult result, const UpdateFailure &failure);
    void finishIfDone();
    void release(int index);

    std::vector<Target> targets;
    FleetPolicy policy;
    LinkFactory makeLink;
    ReporterFactory reporterOf;
    StartGate startGate;
    DeviceGate deviceGate;
    QByteArray image;
    UpdateFailure abortCause;
    // Why the targets not yet started are skipped now; its kind is BrokerUnavailable.
    UpdateFailure waitingSkip;
    bool launchesHeld = false;
    QElapsedTimer clock;
    int nextIndex = 0;
    int running = 0;
    bool started = false;
    bool done = false;
    bool launching = false;
};
