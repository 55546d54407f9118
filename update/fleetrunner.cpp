#include "update/fleetrunner.h"

#include "update/updatelink.h"
#include "update/updatesession.h"

#include <QTimer>

FleetRunner::FleetRunner(const QStringList &names, FleetPolicy policy, LinkFactory makeLink,
                         ReporterFactory reporterOf, QObject *parent)
    : QObject(parent), policy(policy), makeLink(std::move(makeLink)), reporterOf(std::move(reporterOf))
{
    targets.resize(size_t(names.size()));
    for (int i = 0; i < names.size(); ++i)
        targets[size_t(i)].name = names.at(i);
}

FleetRunner::~FleetRunner()
{
    for (int i = 0; i < size(); ++i)
        release(i);
}

// A session goes before the link it uses.
void FleetRunner::release(int index)
{
    Target &target = targets[size_t(index)];
    target.session.reset();
    target.link.reset();
}

void FleetRunner::start(const QByteArray &firmware)
{
    if (started)
        return;
    started = true;
    image = firmware;
    clock.start();
    launchMore();
    finishIfDone();
}

void FleetRunner::abortAll(const UpdateFailure &why)
{
    if (!isRunning() || abortCause.isFailure())
        return;
    abortCause = why;
    for (Target &target : targets) {
        if (target.result == FleetResult::Running && target.session)
            target.session->requestAbort(why);
    }
    dropPendingRetries();
    launchMore();
    finishIfDone();
}

void FleetRunner::holdLaunches(bool held)
{
    launchesHeld = held;
    if (held || !isRunning())
        return;
    for (int i = 0; i < size(); ++i) {
        if (targets[size_t(i)].retryDue)
            retryNow(i);
    }
    launchMore();
    finishIfDone();
}

void FleetRunner::skipWaiting(const UpdateFailure &why)
{
    if (!isRunning() || waitingSkip.isFailure())
        return;
    waitingSkip = why;
    // A target waiting for its next try waits for the same way: it ends with its last failure.
    dropPendingRetries();
    launchMore();
    finishIfDone();
}

qint64 FleetRunner::elapsedMs(int index) const
{
    const Target &target = targets.at(size_t(index));
    return target.result == FleetResult::Running ? target.clock.elapsed() : target.ms;
}

int FleetRunner::count(FleetResult result) const
{
    return int(std::count_if(targets.cbegin(), targets.cend(),
                             [result](const Target &target) { return target.result == result; }));
}

// Called again from within a session that ends at once; the outer call goes on with the loop.
void FleetRunner::launchMore()
{
    if (launching)
        return;
    launching = true;
    while (nextIndex < size()) {
        const UpdateFailure skip = skipCause();
        if (skip.isFailure()) {
            settle(nextIndex++, FleetResult::Skipped, skip);
            continue;
        }
        if (launchesHeld || !mayStartAnother())
            break;
        launch(nextIndex++);
    }
    launching = false;
}

bool FleetRunner::mayStartAnother() const
{
    if (policy.parallel > 0 && running >= policy.parallel)
        return false;
    // The rest waits until every canary has ended.
    return nextIndex < policy.canary || canariesDone();
}

bool FleetRunner::canariesDone() const
{
    for (int i = 0; i < qMin(policy.canary, size()); ++i) {
        const FleetResult result = targets[size_t(i)].result;
        if (result == FleetResult::Waiting || result == FleetResult::Running)
            return false;
    }
    return true;
}

// Why the next target must not start at all; of kind None when it may (now or later).
UpdateFailure FleetRunner::skipCause() const
{
    if (abortCause.isFailure())
        return abortCause;
    if (waitingSkip.isFailure())
        return waitingSkip;
    const auto heldBack = [](const QString &text) {
        return UpdateFailure(UpdateFailure::Kind::HeldBack, text);
    };
    if (policy.maxFailures > 0 && count(FleetResult::Failed) >= policy.maxFailures)
        return heldBack(QStringLiteral("not started: %1 targets failed").arg(count(FleetResult::Failed)));
    if (nextIndex >= policy.canary && policy.canary > 0 && canariesDone()) {
        for (int i = 0; i < qMin(policy.canary, size()); ++i) {
            if (targets[size_t(i)].result != FleetResult::Success)
                return heldBack(
                    QStringLiteral("not started: canary %1 did not succeed").arg(targets[size_t(i)].name));
        }
    }
    return UpdateFailure();
}

void FleetRunner::launch(int index)
{
    Target &target = targets[size_t(index)];
    target.result = FleetResult::Running;
    target.clock.start();
    ++running;
    emit targetStarted(index);
    const QString declined = startGate ? startGate(index) : QString();
    if (!declined.isEmpty()) {
        --running;
        settle(index, FleetResult::Skipped, UpdateFailure(UpdateFailure::Kind::AlreadyDone, declined));
        return;
    }
    launchTry(index);
}

void FleetRunner::launchTry(int index)
{
    Target &target = targets[size_t(index)];
    ++target.tries;
    target.tryOpen = true;
    emit tryStarted(index, target.tries);
    UpdateFailure problem;
    target.link = makeLink(index, &problem);
    if (!target.link) {
        tryEnded(index, FleetResult::Failed, problem);
        return;
    }
    target.session = std::make_unique<UpdateSession>(*target.link, reporterOf(index));
    target.session->setConnectAttempts(policy.connectAttempts);
    if (deviceGate)
        target.session->setDeviceGate(
            [this, index](const QString &address) { return deviceGate(index, address); });
    connect(target.session.get(), &UpdateSession::deviceAnnounced, this,
            [this, index](const QString &address) { emit deviceAnnounced(index, address); });
    connect(target.session.get(), &UpdateSession::finished, this,
            [this, index] { onSessionFinished(index); });
    target.session->start(image);
}

void FleetRunner::onSessionFinished(int index)
{
    Target &target = targets[size_t(index)];
    const UpdateOutcome outcome = target.session->outcome();
    const FleetResult result = outcome == UpdateOutcome::Success   ? FleetResult::Success
                               : outcome == UpdateOutcome::Skipped ? FleetResult::Skipped
                                                                   : FleetResult::Failed;
    // The port (and its lock) or the gateway's routing is given back as soon as the try ends,
    // once the session's own call has returned.
    QMetaObject::invokeMethod(
        this, [this, index] { release(index); }, Qt::QueuedConnection);
    tryEnded(index, result, target.session->failure());
}

void FleetRunner::tryEnded(int index, FleetResult result, const UpdateFailure &failure)
{
    if (result == FleetResult::Failed && retryLater(index, failure))
        return;
    --running;
    settle(index, result, failure);
    launchMore();
    finishIfDone();
}

// Another try after 2 s, 4 s, 8 s ... when the link failed and tries are left.
bool FleetRunner::retryLater(int index, const UpdateFailure &failure)
{
    Target &target = targets[size_t(index)];
    if (!failure.isRetryable() || target.tries > policy.retries || abortCause.isFailure())
        return false;
    target.failure = failure;
    target.retryPending = true;
    endTry(index, true);
    const int delayMs = FleetPolicy::kFirstRetryDelayMs << qMin(target.tries - 1, FleetPolicy::kMaxRetries);
    QTimer::singleShot(delayMs, this, [this, index] { retryNow(index); });
    return true;
}

void FleetRunner::retryNow(int index)
{
    Target &target = targets[size_t(index)];
    if (!target.retryPending)
        return;
    // While the way to every target is down, the try waits for it to come back.
    target.retryDue = launchesHeld;
    if (launchesHeld)
        return;
    target.retryPending = false;
    launchTry(index);
}

// A stopped run tries nothing again: a target waiting for its next try ends with its last failure.
void FleetRunner::dropPendingRetries()
{
    for (int i = 0; i < size(); ++i) {
        Target &target = targets[size_t(i)];
        if (!target.retryPending)
            continue;
        target.retryPending = false;
        target.retryDue = false;
        --running;
        settle(i, FleetResult::Failed, target.failure);
    }
}

void FleetRunner::endTry(int index, bool retrying)
{
    Target &target = targets[size_t(index)];
    if (!target.tryOpen)
        return;
    target.tryOpen = false;
    emit tryFinished(index, retrying);
}

UpdateStats FleetRunner::stats(int index) const
{
    const Target &target = targets.at(size_t(index));
    return target.session ? target.session->stats() : UpdateStats();
}

void FleetRunner::settle(int index, FleetResult result, const UpdateFailure &failure)
{
    Target &target = targets[size_t(index)];
    target.result = result;
    target.failure = result == FleetResult::Success ? UpdateFailure() : failure;
    target.ms = target.clock.isValid() ? target.clock.elapsed() : 0;
    endTry(index, false);
    emit targetFinished(index);
}

void FleetRunner::finishIfDone()
{
    if (done || launching || running > 0 || nextIndex < size())
        return;
    done = true;
    emit finished();
}
