#include "update/fleetrunner.h"

#include "update/updatelink.h"
#include "update/updatesession.h"

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
    launchMore();
    finishIfDone();
}

void FleetRunner::holdLaunches(bool held)
{
    launchesHeld = held;
    if (held || !isRunning())
        return;
    launchMore();
    finishIfDone();
}

void FleetRunner::skipWaiting(const UpdateFailure &why)
{
    if (!isRunning() || waitingSkip.isFailure())
        return;
    waitingSkip = why;
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
    UpdateFailure problem;
    target.link = makeLink(index, &problem);
    if (!target.link) {
        --running;
        settle(index, FleetResult::Failed, problem);
        return;
    }
    target.session = std::make_unique<UpdateSession>(*target.link, reporterOf(index));
    target.session->setConnectAttempts(policy.connectAttempts);
    connect(target.session.get(), &UpdateSession::finished, this,
            [this, index] { onSessionFinished(index); });
    target.session->start(image);
}

void FleetRunner::onSessionFinished(int index)
{
    Target &target = targets[size_t(index)];
    --running;
    const UpdateOutcome outcome = target.session->outcome();
    settle(index, outcome == UpdateOutcome::Success ? FleetResult::Success : FleetResult::Failed,
           target.session->failure());
    // The port (and its lock) or the gateway's routing is given back as soon as the target ends,
    // once the session's own call has returned.
    QMetaObject::invokeMethod(
        this, [this, index] { release(index); }, Qt::QueuedConnection);
    launchMore();
    finishIfDone();
}

void FleetRunner::settle(int index, FleetResult result, const UpdateFailure &failure)
{
    Target &target = targets[size_t(index)];
    target.result = result;
    target.failure = result == FleetResult::Success ? UpdateFailure() : failure;
    target.ms = target.clock.isValid() ? target.clock.elapsed() : 0;
    emit targetFinished(index);
}

void FleetRunner::finishIfDone()
{
    if (done || launching || running > 0 || nextIndex < size())
        return;
    done = true;
    emit finished();
}
