#include "station/stationslot.h"

#include "links/serialupdatelink.h"
#include "platform/portidentity.h"
#include "platform/serialportlist.h"
#include "protocol/bootframe.h"
#include "serial/serialchannel.h"
#include "station/heldrequestlink.h"
#include "update/forwardingreporter.h"
#include "update/updatesession.h"

namespace {

// A reply wait shorter than this is not worth starting: the next probe is due.
constexpr int kShortestProbeWaitMs = 20;

QString addressOf(const QByteArray &reply)
{
    BootFrame::SplitLenRequest request;
    if (UpdateSession::replyCommand(reply) != BootCmd::SplitLen ||
        !BootFrame::parseSplitLenRequest(reply, &request))
        return QString();
    return QStringLiteral("%1").arg(request.deviceAddr, 8, 16, QLatin1Char('0')).toUpper();
}

} // namespace

StationSlot::StationSlot(const QString &port, const StationOptions &options, const QByteArray &image,
                         QObject *parent)
    : QObject(parent), portName(port), options(options), image(image), channel(new SerialChannel)
{
    qRegisterMetaType<StationSlotStatus>();
    qRegisterMetaType<StationUnit>();
    // Until its first open says otherwise, a slot cannot take a device.
    shown.reason = QStringLiteral("the port is not open yet");
    link.reset(new SerialUpdateLink(*channel, options.target));
    heldLink.reset(new HeldRequestLink(*link));
    reporter.reset(new ForwardingReporter([this](const QString &text) { emit consoleLine(text); },
                                          [this](qint64 done, qint64 total) { emit progress(done, total); }));
    session.reset(new UpdateSession(*heldLink, *reporter));
    session->setConnectAttempts(options.connectAttempts);
    connect(session.get(), &UpdateSession::finished, this, &StationSlot::onSessionFinished);
    connect(link.get(), &UpdateLink::bootEntryDone, this, &StationSlot::onBootEntryDone);
    connect(link.get(), &UpdateLink::replyReceived, this, &StationSlot::onProbeReply);
    connect(link.get(), &UpdateLink::replyTimedOut, this, &StationSlot::onProbeTimedOut);
    connect(channel.get(), &SerialChannel::portLost, this, &StationSlot::onPortLost);
    // The port named is back (its device file came again): it may open now.
    connect(channel.get(), &SerialChannel::threadCallBack, this, [this](int status) {
        if (status == SerialChannel::PortBackAndClosed)
            portsChanged();
    });
    reopenTimer.setSingleShot(true);
    connect(&reopenTimer, &QTimer::timeout, this, &StationSlot::tryOpen);
}

StationSlot::~StationSlot()
{
    // The session goes before the links it holds on to.
    session.reset();
}

void StationSlot::start()
{
    stopped = false;
    draining = false;
    tryOpen();
}

bool StationSlot::holdsDevice() const
{
    return shown.state != State::Waiting && shown.state != State::Gone;
}

QString StationSlot::deviceOnSlot() const
{
    return holdsDevice() ? shown.device : QString();
}

// A serial:SN name is resolved at each open: the adapter may have come back under another tty.
void StationSlot::tryOpen()
{
    if (stopped || draining || channel->isPortOpen())
        return;
    QString path;
    QString problem;
    if (!PortIdentity::resolve(portName, &path, &problem)) {
        openFailedHere(problem, false);
        return;
    }
    channel->setPortName(path);
    channel->setSelectedPortName(path);
    channel->setBaudRate(options.baudRate);
    if (!channel->openPort()) {
        // A port held by another program may be let go at any time: look again at the next probe.
        openFailedHere(channel->lastOpenError(), SerialPortList::isPresent(path));
        return;
    }
    unansweredProbes = 0;
    mutedProbes = 0;
    show(State::Waiting);
    probe();
}

void StationSlot::openFailedHere(const QString &reason, bool tryAgainSoon)
{
    if (shown.state != State::Waiting || shown.reason != reason)
        show(State::Waiting, QString(), reason);
    if (tryAgainSoon)
        reopenTimer.start(options.probeIntervalMs);
}

void StationSlot::portsChanged()
{
    if (!channel->isPortOpen() && !session->isRunning())
        tryOpen();
}

void StationSlot::onPortLost(const QString &reason)
{
    // A running update ends through its link and reports the loss itself.
    if (session->isRunning())
        return;
    endProbe();
    portWentAway(reason);
}

void StationSlot::portWentAway(const QString &reason)
{
    if (holdsDevice())
        deviceGone(reason);
    show(State::Waiting, QString(), reason);
    // The file system's notices of the next device (a re-plug, a new tty) may have come before
    // the loss did, while the port still looked open: one look now, then the notices again.
    reopenTimer.start(0);
}

void StationSlot::endProbe()
{
    probing = false;
    reopenTimer.stop();
    link->cancel();
}

// The boot entry goes out (a demo board needs none), then the wait for its SPLIT LEN until the
// next probe is due; that wait is the probe's only clock.
void StationSlot::probe()
{
    if (stopped || draining || !channel->isPortOpen())
        return;
    probing = true;
    probeAnswered = false;
    probeClock.start();
    bytesBeforeProbe = channel->receivedByteCount();
    if (options.target == TargetKind::DemoBoard)
        onBootEntryDone();
    else
        link->sendBootEntry();
}

void StationSlot::onBootEntryDone()
{
    if (!probing)
        return;
    awaitProbeAnswer();
}

void StationSlot::awaitProbeAnswer()
{
    const int left = options.probeIntervalMs - int(probeClock.elapsed());
    link->awaitReply(qMax(left, kShortestProbeWaitMs));
}

void StationSlot::onProbeReply(const QByteArray &reply)
{
    if (!probing)
        return;
    const QString address = addressOf(reply);
    if (address.isEmpty()) {
        awaitProbeAnswer();
        return;
    }
    probing = false;
    deviceAnswered(reply, address);
}

void StationSlot::onProbeTimedOut()
{
    if (!probing)
        return;
    probing = false;
    if (!probeAnswered)
        noAnswer();
    probe();
}

void StationSlot::deviceAnswered(const QByteArray &splitLen, const QString &address)
{
    unansweredProbes = 0;
    mutedProbes = 0;
    probeAnswered = true;
    const QString present = deviceOnSlot();
    if (present == address) {
        // The same device, still on the fixture: it is not a new unit.
        waitForNextProbe();
        return;
    }
    if (holdsDevice())
        deviceGone(QStringLiteral("another device answered: %1").arg(address));
    const QString why = doneCheck ? doneCheck(address) : QString();
    if (why.isEmpty())
        beginUnit(splitLen, address);
    else
        skipDone(address, why);
}

// A SPLIT LEN came before the probe's time was up: the next probe keeps its interval, so a
// device that announces itself again and again costs one look a probe interval.
void StationSlot::waitForNextProbe()
{
    const int left = options.probeIntervalMs - int(probeClock.elapsed());
    if (left <= 0) {
        probe();
        return;
    }
    probing = true;
    link->awaitReply(left);
}

// A probe went by without a SPLIT LEN. Bytes that came in answer still show a device there.
void StationSlot::noAnswer()
{
    const bool heardSomething = channel->receivedByteCount() != bytesBeforeProbe;
    if (!holdsDevice()) {
        mutedProbes = heardSomething && options.target != TargetKind::DemoBoard ? mutedProbes + 1 : 0;
        if (mutedProbes >= options.goneAfter)
            failMuted();
        return;
    }
    unansweredProbes = heardSomething ? 0 : unansweredProbes + 1;
    if (unansweredProbes >= options.goneAfter) {
        deviceGone(QStringLiteral("no answer to %1 probes").arg(unansweredProbes));
        show(State::Waiting);
    }
}

// Something answers the boot entry, but no bootloader ever names itself.
void StationSlot::failMuted()
{
    mutedProbes = 0;
    unansweredProbes = 0;
    StationUnit unit;
    unit.slot = portName;
    unit.result = StationUnit::Result::Failed;
    unit.failure = {UpdateFailure::Kind::NoAnswer,
                    QStringLiteral("the device answers the boot entry but sends no SPLIT LEN request")};
    unit.whatToCheck = link->whatToCheck();
    unit.seconds = options.goneAfter * options.probeIntervalMs / 1000.0;
    show(State::Fail, QString(), unit.failure.text, unit.whatToCheck);
    emit unitFinished(unit);
}

void StationSlot::beginUnit(const QByteArray &splitLen, const QString &address)
{
    seenTwice = false;
    show(State::Busy, address);
    emit unitStarted(address);
    unitClock.start();
    heldLink->hold(splitLen);
    session->start(image);
}

void StationSlot::markSeenTwice()
{
    if (seenTwice)
        return;
    seenTwice = true;
    shown.seenTwice = true;
    emit statusChanged(shown);
}

void StationSlot::onSessionFinished()
{
    StationUnit unit;
    unit.slot = portName;
    unit.device = shown.device;
    unit.result = session->outcome() == UpdateOutcome::Success ? StationUnit::Result::Success
                                                               : StationUnit::Result::Failed;
    unit.failure = session->failure();
    if (unit.result == StationUnit::Result::Failed && !unit.failure.isFailure())
        unit.failure = {UpdateFailure::Kind::ImageUnusable, QStringLiteral("nothing to send")};
    if (unit.failure.isFailure() && !unit.failure.isStop())
        unit.whatToCheck = heldLink->whatToCheck();
    unit.seconds = unitClock.elapsed() / 1000.0;
    unit.stats = session->stats();
    unit.seenTwice = seenTwice;
    if (unit.result == StationUnit::Result::Success)
        show(State::Pass, unit.device);
    else
        show(State::Fail, unit.device, unit.failure.text, unit.whatToCheck);
    emit unitFinished(unit);
    afterUnit();
}

// The device is to leave now; a port that went with it brings the next one when it is back.
void StationSlot::afterUnit()
{
    unansweredProbes = 0;
    if (stopped || draining) {
        channel->closePort();
        return;
    }
    if (!channel->isPortOpen()) {
        portWentAway(channel->unavailableReason());
        return;
    }
    probe();
}

void StationSlot::skipDone(const QString &address, const QString &why)
{
    StationUnit unit;
    unit.slot = portName;
    unit.device = address;
    unit.result = StationUnit::Result::Skipped;
    unit.failure = {UpdateFailure::Kind::AlreadyDone, why};
    show(State::Remove, address, why);
    emit unitFinished(unit);
    waitForNextProbe();
}

void StationSlot::deviceGone(const QString &why)
{
    show(State::Gone, shown.device, why);
}

void StationSlot::stop(const UpdateFailure &why)
{
    stopped = true;
    endProbe();
    if (session->isRunning())
        session->requestAbort(why);
    else
        channel->closePort();
}

void StationSlot::drain()
{
    draining = true;
    if (session->isRunning())
        return;
    endProbe();
    channel->closePort();
}

void StationSlot::show(State state, const QString &device, const QString &reason, const QString &check)
{
    StationSlotStatus next;
    next.state = state;
    next.device = device;
    next.reason = reason;
    next.whatToCheck = check;
    next.seenTwice = state == State::Busy || state == State::Pass || state == State::Fail ? seenTwice : false;
    const bool same = next.state == shown.state && next.device == shown.device &&
                      next.reason == shown.reason && next.whatToCheck == shown.whatToCheck &&
                      next.seenTwice == shown.seenTwice;
    shown = next;
    if (!same)
        emit statusChanged(shown);
}
