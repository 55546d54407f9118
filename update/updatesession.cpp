#include "update/updatesession.h"

#include "core/debugtrace.h"
#include "update/updatelink.h"
#include "update/updatereporter.h"

#include <QEventLoop>
#include <climits>

#define SESSION_TRACE() MAIN_TRACE_AS(lcUpdate, "sendFirmwarePacket")

namespace {

// A console line shows the start of a long reply (a noisy line can deliver a megabyte) and its
// size; the trace keeps more of it.
constexpr int kConsoleReplyBytes = 64;
constexpr int kTraceReplyBytes = 4096;

QString cappedHex(const QByteArray &bytes, int shown)
{
    if (bytes.size() <= shown)
        return QString::fromLatin1(bytes.toHex());
    return QStringLiteral("%1... (%2 bytes)")
        .arg(QString::fromLatin1(bytes.left(shown).toHex()))
        .arg(bytes.size());
}

QString consoleHex(const QByteArray &bytes)
{
    return cappedHex(bytes, kConsoleReplyBytes);
}

QString traceHex(const QByteArray &bytes)
{
    return cappedHex(bytes, kTraceReplyBytes);
}

QString hexText(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

uint8_t *bytesOf(QByteArray &frame)
{
    return reinterpret_cast<uint8_t *>(frame.data());
}

} // namespace

UpdateSession::UpdateSession(UpdateLink &link, UpdateReporter &reporter, QObject *parent)
    : QObject(parent), link(link), reporter(reporter)
{
    qRegisterMetaType<UpdateOutcome>();
    connect(&link, &UpdateLink::replyReceived, this, &UpdateSession::onReply);
    connect(&link, &UpdateLink::replyTimedOut, this, &UpdateSession::onTimeout);
    connect(&link, &UpdateLink::bootEntryDone, this, &UpdateSession::onBootEntryDone);
    connect(&link, &UpdateLink::pauseDone, this, &UpdateSession::onPauseDone);
    // Deferred: the link may lose its port in the middle of a call the session made.
    connect(&link, &UpdateLink::becameUnavailable, this, &UpdateSession::onLinkUnavailable,
            Qt::QueuedConnection);
}

UpdateSession::~UpdateSession()
{
    if (running)
        link.cancel();
}

bool UpdateSession::start(const QByteArray &image, const QString &problem)
{
    if (running) {
        reporter.consoleLine(QStringLiteral("update already running, request ignored"));
        return false;
    }
    running = true;
    abortCause = UpdateFailure();
    ending = UpdateFailure();
    result = UpdateOutcome::Failed;
    clock.start();
    firmware.clear();
    connectAttempt = 0;
    resynchronisations = 0;
    timeoutsSeen = 0;
    device = BootFrame::SplitLenRequest();
    deviceAddress.clear();
    splitIndex = 0;
    packetIndex = 0;
    packetRepeatsInAll = 0;
    furthestPacketSent = -1;

    if (!problem.isEmpty()) {
        enter(fail(UpdateFailure::Kind::ImageUnusable, problem));
        return true;
    }
    if (image.isEmpty()) {
        ending = {UpdateFailure::Kind::ImageUnusable, QStringLiteral("firmware packet is empty")};
        reporter.consoleLine(ending.text);
        end(UpdateOutcome::EmptyImage);
        return true;
    }
    if (image.size() > BootFrame::kMaxImageBytes) {
        enter(fail(
            UpdateFailure::Kind::ImageUnusable,
            QStringLiteral("firmware image is too large: %1 bytes, the most an update can send is %2 bytes")
                .arg(image.size())
                .arg(BootFrame::kMaxImageBytes)));
        return true;
    }
    firmware = image;
    firmLen = quint32(firmware.size());
    reporter.progressReset();
    reporter.consoleLine(QStringLiteral("start to send packet"));
    enter(State::Connect);
    return true;
}

UpdateOutcome UpdateSession::run(const QByteArray &image, const QString &problem)
{
    if (!start(image, problem))
        return UpdateOutcome::Busy;
    if (running) {
        QEventLoop loop;
        connect(this, &UpdateSession::finished, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return result;
}

UpdateStats UpdateSession::stats() const
{
    UpdateStats stats;
    stats.device = deviceAddress;
    if (!deviceAddress.isEmpty()) {
        stats.splitLen = device.splitLen;
        stats.packetLen = device.uartLen;
    }
    // Where the device stands in the image, not how much was acknowledged: a rewound split counts once.
    stats.bytesAcked = quint64(splitIndex) * device.splitLen + quint64(packetIndex) * device.uartLen;
    stats.repeats = packetRepeatsInAll;
    stats.timeouts = timeoutsSeen;
    stats.connectAttempts = connectAttempt;
    return stats;
}

void UpdateSession::setConnectAttempts(int attempts)
{
    connectAttemptLimit = qBound(1, attempts, kConnectAttempts);
}

void UpdateSession::requestAbort(const UpdateFailure &why)
{
    if (!running || abortCause.isFailure())
        return;
    abortCause = why;
    link.cancel();
    // Never from inside the caller: it may be a step of this very session.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (running && state != State::Report)
                endHalted();
        },
        Qt::QueuedConnection);
}

int UpdateSession::replyCommand(const QByteArray &reply)
{
    return BootFrame::checkBootFrame(reply) ? BootFrame::replyByte(reply, 2) : -1;
}

QString UpdateSession::refusal(const QString &frame, const QString &expected, const QByteArray &reply)
{
    const int command = replyCommand(reply);
    if (command == BootCmd::ReturnFail && reply.size() > 4)
        return QStringLiteral("%1 refused by the device: %2")
            .arg(frame, BootFrame::bootReturnName(uint8_t(reply.at(3))));
    const QString answer = command < 0 ? QStringLiteral("a reply that is not a valid frame")
                                       : BootFrame::bootCommandName(uint8_t(command));
    return QStringLiteral("%1 answered with %2 instead of %3").arg(frame, answer, expected);
}

QString UpdateSession::formatElapsed(qint64 elapsedMs)
{
    return QStringLiteral("%1ms(%2min %3sec %4msec)")
        .arg(elapsedMs)
        .arg(elapsedMs / 60000)
        .arg((elapsedMs / 1000) % 60)
        .arg(elapsedMs % 1000);
}

void UpdateSession::consoleReturnCode(const QByteArray &reply)
{
    constexpr int returnFrameSize = 5;
    if (reply.size() < returnFrameSize)
        return;
    const auto *frame = reinterpret_cast<const uint8_t *>(reply.constData());
    if (BootFrame::checkBootFrame(frame, returnFrameSize) && frame[2] == BootCmd::ReturnFail)
        MAIN_TRACE_AS(lcUpdate, "consoleReturnCode")
            << "bootloader return fail []" << BootFrame::bootReturnName(frame[3]);
}

// The session cannot go on when it was aborted or its link went away (port closed or lost).
bool UpdateSession::halted()
{
    if (abortCause.isFailure()) {
        ending = abortCause;
        return true;
    }
    const QString reason = link.unavailableReason();
    if (reason.isEmpty())
        return false;
    ending = {unavailableKind(), reason};
    return true;
}

// A broker that is down before the first connect attempt was never reached; anything else
// lost the way to the device, a port that was never open included.
UpdateFailure::Kind UpdateSession::unavailableKind() const
{
    if (link.usesGateway() && connectAttempt == 0)
        return UpdateFailure::Kind::BrokerUnavailable;
    return UpdateFailure::Kind::LinkLost;
}

// States that need no answer follow each other here; a state that waits returns.
void UpdateSession::enter(State next)
{
    for (;;) {
        if (next != State::Report && halted())
            next = State::Report;
        state = next;
        switch (next) {
        case State::Idle:
            return;
        case State::Connect:
            if (connectAttempt >= connectAttemptLimit) {
                next = fail(UpdateFailure::Kind::NoAnswer, noRequestReason());
                continue;
            }
            beginConnectAttempt();
            return;
        case State::Resynchronise:
            // The device restarts its request on its own: wait once more, without a boot entry.
            awaitReply(splitLenWaitMs());
            return;
        case State::Parameters:
            next = takeParameters();
            continue;
        case State::Announce:
            sendFirmwareLen();
            return;
        case State::Transfer:
            sendPacket();
            return;
        case State::Check:
            sendCheck();
            return;
        case State::Finish:
            link.pause(device.overDelay);
            return;
        case State::Report:
            report();
            return;
        }
    }
}

void UpdateSession::awaitReply(int timeoutMs)
{
    link.awaitReply(timeoutMs);
}

void UpdateSession::onReply(const QByteArray &reply)
{
    if (!running || state == State::Report)
        return;
    if (isLateAnswer(reply))
        awaitOverAnswerStill(reply);
    else if (isRepeatedAnnouncement(reply))
        awaitRequestStill(reply);
    else
        enter(answerOf(reply));
}

// A demo board repeats its SPLIT LEN until FIRMWARE LEN reaches it: a repeat already on the line
// crosses FIRMWARE LEN, and the board still answers it.
bool UpdateSession::isRepeatedAnnouncement(const QByteArray &reply) const
{
    return state == State::Announce && reply == splitLenReply;
}

void UpdateSession::awaitRequestStill(const QByteArray &repeat)
{
    consoleReply(repeat);
    reporter.consoleLine(
        QStringLiteral("SPLIT LEN again, sent before FIRMWARE LEN arrived: still waiting for its answer"));
    awaitReply(int(qMax<qint64>(0, kFirmwareLenWaitMs - sinceAwaitedFrame.elapsed())));
}

// The device answers FIRMWARE OVER with RETURN SUCCESS or RETURN FAIL, never with CONTINUE:
// after a time-out that CONTINUE is the late answer of a packet or a check, and the device
// may still confirm the image.
bool UpdateSession::isLateAnswer(const QByteArray &reply) const
{
    return state == State::Finish && timeoutsSeen > 0 && replyCommand(reply) == BootCmd::FirmwareContinue;
}

void UpdateSession::awaitOverAnswerStill(const QByteArray &lateReply)
{
    consoleReply(lateReply);
    reporter.consoleLine(
        QStringLiteral("late answer of an earlier frame, still waiting for FIRMWARE OVER's"));
    awaitReply(int(qMax<qint64>(0, kOverWaitMs - sinceAwaitedFrame.elapsed())));
}

void UpdateSession::onTimeout()
{
    if (!running || state == State::Report)
        return;
    // A connect attempt's request is never late for a frame.
    if (state != State::Connect && state != State::Resynchronise)
        ++timeoutsSeen;
    // A wait that ended because the link went away is no time-out of the device.
    enter(halted() ? State::Report : answerOf(QByteArray()));
}

void UpdateSession::onBootEntryDone()
{
    if (!running || state != State::Connect)
        return;
    if (halted())
        endHalted();
    else
        awaitReply(splitLenWaitMs());
}

void UpdateSession::onPauseDone()
{
    if (!running || state != State::Finish)
        return;
    if (halted())
        endHalted();
    else
        sendOver();
}

void UpdateSession::onLinkUnavailable()
{
    // A port closed and opened again in the meantime goes on; its wait goes on too.
    if (!running || state == State::Report || !halted())
        return;
    link.cancel();
    endHalted();
}

// Ends the session when it was aborted or its link went away, with the reason before the report.
void UpdateSession::endHalted()
{
    halted();
    enter(State::Report);
}

UpdateSession::State UpdateSession::answerOf(const QByteArray &reply)
{
    switch (state) {
    case State::Connect:
        return connectAnswer(reply);
    case State::Resynchronise:
        return resynchroniseAnswer(reply);
    case State::Announce:
        return announceAnswer(reply);
    case State::Transfer:
        return transferAnswer(reply);
    case State::Check:
        return checkAnswer(reply);
    case State::Finish:
        return overAnswer(reply);
    default:
        return state;
    }
}

int UpdateSession::splitLenWaitMs() const
{
    return link.usesGateway() ? kSplitLenWaitGatewayMs : kSplitLenWaitSerialMs;
}

UpdateSession::State UpdateSession::fail(UpdateFailure::Kind kind, const QString &reason)
{
    ending = {kind, reason};
    return State::Report;
}

QString UpdateSession::noRequestReason() const
{
    const QString reason = QStringLiteral("no SPLIT LEN request from the device after %1 connect attempts")
                               .arg(connectAttemptLimit);
    const QString hint = link.whatToCheck();
    return hint.isEmpty() ? reason : reason + QStringLiteral(": ") + hint;
}

void UpdateSession::beginConnectAttempt()
{
    reporter.consoleLine(QStringLiteral("trying to connect device ") + QString::number(connectAttempt));
    ++connectAttempt;
    link.sendBootEntry();
}

UpdateSession::State UpdateSession::connectAnswer(const QByteArray &reply)
{
    return takeSplitLenRequest(reply) ? State::Parameters : State::Connect;
}

UpdateSession::State UpdateSession::resynchroniseAnswer(const QByteArray &reply)
{
    if (takeSplitLenRequest(reply))
        return State::Parameters;
    return fail(UpdateFailure::Kind::AnswersStopped,
                QStringLiteral("the device did not send a new SPLIT LEN request after RETURN FAIL"));
}

bool UpdateSession::takeSplitLenRequest(const QByteArray &reply)
{
    if (reply.isEmpty()) {
        SESSION_TRACE() << "get uart timeout";
        return false;
    }
    reporter.consoleLine(QStringLiteral("get device pacekt: ") + consoleHex(reply));
    SESSION_TRACE() << "get uart" << traceHex(reply);
    if (replyCommand(reply) != BootCmd::SplitLen)
        return false;
    if (!BootFrame::parseSplitLenRequest(reply, &device)) {
        reporter.consoleLine(QStringLiteral("SPLIT LEN request too short (%1 of %2 bytes), ignored")
                                 .arg(reply.size())
                                 .arg(BootFrame::kSplitLenFrameSize));
        return false;
    }
    splitLenReply = reply;
    return true;
}

UpdateSession::State UpdateSession::takeParameters()
{
    const QString address = QStringLiteral("%1").arg(device.deviceAddr, 8, 16, QLatin1Char('0')).toUpper();
    SESSION_TRACE() << "get uart deviceAddr" << address;
    reporter.consoleLine(QStringLiteral("get cmd: ") + QString::number(device.command));
    reporter.consoleLine(QStringLiteral("get splitLen: ") + QString::number(device.splitLen));
    reporter.consoleLine(QStringLiteral("get uartLen: ") + QString::number(device.uartLen));
    reporter.consoleLine(QStringLiteral("get firm_len: ") + QString::number(firmLen));
    reporter.consoleLine(QStringLiteral("get deviceAddr: ") + address);
    SESSION_TRACE() << "get uart cmd" << device.command;
    SESSION_TRACE() << "get uart splitLen" << device.splitLen;
    SESSION_TRACE() << "get uart uartLen" << device.uartLen;
    SESSION_TRACE() << "get uart firm_len" << firmLen;
    reporter.deviceAddress(address);
    consoleReturnCode(splitLenReply);
    // A device that restarts its request mid-transfer names itself again: it was announced already.
    if (deviceAddress.isEmpty()) {
        deviceAddress = address;
        emit deviceAnnounced(address);
        if (gateDeclines(address))
            return State::Report;
    }
    if (!parametersUsable())
        return State::Report;
    padImage();
    reporter.deviceParameters(device.splitLen, device.uartLen);
    reporter.progressMaximum(int(firmLen));
    SESSION_TRACE() << "get uart firm_len" << firmLen;
    splitCount = firmLen / device.splitLen;
    packetsPerSplit = device.splitLen / device.uartLen;
    return State::Announce;
}

bool UpdateSession::parametersUsable()
{
    const auto refuse = [this](const QString &reason) {
        ending = {UpdateFailure::Kind::ImageUnusable,
                  QStringLiteral("device parameters unusable: ") + reason};
        return false;
    };
    if (device.splitLen == 0 || device.uartLen == 0)
        return refuse(QStringLiteral("split length %1 and packet length %2 must both be above 0")
                          .arg(device.splitLen)
                          .arg(device.uartLen));
    // A packet longer than the split is never sent, so only a packet that travels must fit a frame.
    if (device.uartLen <= device.splitLen && int(device.uartLen) + 8 > 0xFFFF)
        return refuse(QStringLiteral("packet length %1 does not fit a frame").arg(device.uartLen));

    const int tail = device.splitLen % device.uartLen;
    if (tail != 0)
        reporter.consoleLine(
            QStringLiteral("split length %1 is not a multiple of packet length %2: the last %3 "
                           "bytes of each split are not sent (the device decides)")
                .arg(device.splitLen)
                .arg(device.uartLen)
                .arg(tail));
    return true;
}

bool UpdateSession::gateDeclines(const QString &address)
{
    if (!deviceGate)
        return false;
    const QString reason = deviceGate(address);
    if (reason.isEmpty())
        return false;
    result = UpdateOutcome::Skipped;
    ending = {UpdateFailure::Kind::AlreadyDone, reason};
    return true;
}

void UpdateSession::padImage()
{
    if (firmLen % device.splitLen == 0)
        return;
    const quint32 padding = (firmLen / device.splitLen + 1) * device.splitLen - firmLen;
    SESSION_TRACE() << "get uart firm_len" << padding;
    firmware.append(int(padding), char(0xFF));
    firmLen = quint32(firmware.size());
}

void UpdateSession::sendFirmwareLen()
{
    QByteArray length(4, '\0');
    BootFrame::writeLe32(bytesOf(length), firmLen);
    sendFrame(BootFrame::makeBootFrame(BootCmd::FirmwareLen, length + '\x01'));
    sinceAwaitedFrame.start();
    SESSION_TRACE() << "get uart split len";
    awaitReply(kFirmwareLenWaitMs);
}

UpdateSession::State UpdateSession::announceAnswer(const QByteArray &reply)
{
    if (reply.isEmpty()) {
        SESSION_TRACE() << "update fail time out.............";
        return fail(UpdateFailure::Kind::AnswersStopped, QStringLiteral("no answer to FIRMWARE LEN"));
    }
    reporter.consoleLine(QStringLiteral("get buffer:") + consoleHex(reply));
    SESSION_TRACE() << "get uart" << traceHex(reply);
    SESSION_TRACE() << "get uart cmd" << BootFrame::replyByte(reply, 2);
    consoleReturnCode(reply);
    if (replyCommand(reply) != BootCmd::RequestFirmware)
        return fail(UpdateFailure::Kind::Refused,
                    refusal(QStringLiteral("FIRMWARE LEN"), QStringLiteral("REQUEST FIRMWARE"), reply));
    startTransfer();
    return splitIndex < splitCount ? splitStart() : State::Finish;
}

// A packet longer than the split leaves no packet to send: the split goes straight to its check.
UpdateSession::State UpdateSession::splitStart() const
{
    return packetsPerSplit > 0 ? State::Transfer : State::Check;
}

void UpdateSession::startTransfer()
{
    splitIndex = 0;
    checkTimeouts = 0;
    splitRewinds = 0;
    bytesAcknowledged = 0;
    bytesRemaining = firmLen;
    restartSplit();
}

void UpdateSession::restartSplit()
{
    packetIndex = 0;
    packetTimeouts = 0;
    packetRepeats = 0;
}

QByteArray UpdateSession::currentPacketData() const
{
    return currentSplit().mid(int(packetIndex * device.uartLen), device.uartLen);
}

void UpdateSession::sendPacket()
{
    reporter.consoleLine(QStringLiteral("firmware packet sending - ") + QString::number(bytesRemaining));
    const qint64 position = qint64(splitIndex) * packetsPerSplit + packetIndex;
    if (position <= furthestPacketSent)
        ++packetRepeatsInAll;
    furthestPacketSent = qMax(furthestPacketSent, position);
    sendFrame(buildPacketFrame(currentPacketData()));
    awaitReply(kPacketWaitMs);
}

UpdateSession::State UpdateSession::transferAnswer(const QByteArray &reply)
{
    const QByteArray data = currentPacketData();
    if (reply.isEmpty()) {
        reporter.consoleLine(QStringLiteral("firmware packet send timeout ") +
                             QString::number(packetTimeouts));
        SESSION_TRACE() << "wait continue update fail time out.............";
        if (packetTimeouts >= kLastAllowedTimeout)
            return fail(UpdateFailure::Kind::AnswersStopped,
                        QStringLiteral("packet %1 of split %2 not answered %3 times in a row, giving up")
                            .arg(packetIndex)
                            .arg(splitIndex)
                            .arg(kLastAllowedTimeout + 1));
        ++packetTimeouts;
    } else {
        consoleReply(reply);
        const int command = replyCommand(reply);
        if (command == BootCmd::FirmwareContinue) {
            acknowledgePacket();
        } else if (command == BootCmd::ReturnFail &&
                   BootFrame::replyByte(reply, 3) == BootReturn::RewindSplit) {
            SESSION_TRACE() << "RC_SPLIT_LEN_ERROR goto SCROLL_FLAG";
            reporter.consoleLine(QStringLiteral("------------------error 1164"));
            return rewindSplit();
        } else if (command == BootCmd::ReturnFail) {
            reporter.consoleLine(QStringLiteral("------------------error  1168"));
            return resynchronise();
        } else {
            packetTimeouts = 0;
            if (++packetRepeats > kMaxPacketRepeats)
                return fail(UpdateFailure::Kind::Refused,
                            QStringLiteral("packet %1 of split %2 refused %3 times, giving up")
                                .arg(packetIndex)
                                .arg(splitIndex)
                                .arg(packetRepeats));
        }
    }
    SESSION_TRACE() << "send firmware packet" << hexText(data);
    return packetIndex < packetsPerSplit ? State::Transfer : State::Check;
}

void UpdateSession::acknowledgePacket()
{
    ++packetIndex;
    // A rewound split is counted again; the count must not wrap below 0.
    bytesRemaining = bytesRemaining > device.uartLen ? bytesRemaining - device.uartLen : 0;
    bytesAcknowledged += device.uartLen;
    reporter.progressValue(int(qMin<quint64>(bytesAcknowledged, quint64(INT_MAX))));
    packetTimeouts = 0;
    packetRepeats = 0;
}

UpdateSession::State UpdateSession::rewindSplit()
{
    if (++splitRewinds > kMaxSplitRewinds)
        return fail(UpdateFailure::Kind::Refused, QStringLiteral("split %1 started again %2 times, giving up")
                                                      .arg(splitIndex)
                                                      .arg(kMaxSplitRewinds));
    restartSplit();
    return splitStart();
}

UpdateSession::State UpdateSession::resynchronise()
{
    if (++resynchronisations > kMaxResynchronisations)
        return fail(
            UpdateFailure::Kind::Refused,
            QStringLiteral("device restarted its request %1 times, giving up").arg(kMaxResynchronisations));
    return State::Resynchronise;
}

void UpdateSession::sendCheck()
{
    sendFrame(buildCheckFrame());
    awaitReply(kCheckWaitMs);
}

UpdateSession::State UpdateSession::checkAnswer(const QByteArray &reply)
{
    if (reply.isEmpty()) {
        reporter.consoleLine(QStringLiteral("firmware packet send timeout ") +
                             QString::number(checkTimeouts));
        SESSION_TRACE() << "send check update fail time out.............";
        if (checkTimeouts >= kLastAllowedTimeout)
            return fail(UpdateFailure::Kind::AnswersStopped,
                        QStringLiteral("check of split %1 not answered %2 times in a row, giving up")
                            .arg(splitIndex)
                            .arg(kLastAllowedTimeout + 1));
        ++checkTimeouts;
        restartSplit();
        return splitStart();
    }
    consoleReply(reply);
    const int command = replyCommand(reply);
    if (command == BootCmd::FirmwareContinue) {
        ++splitIndex;
        checkTimeouts = 0;
        splitRewinds = 0;
        restartSplit();
        return splitIndex < splitCount ? splitStart() : State::Finish;
    }
    if (command == BootCmd::ReturnFail) {
        SESSION_TRACE() << "RC_SPLIT_LEN_ERROR goto SCROLL_FLAG";
        if (BootFrame::replyByte(reply, 3) != BootReturn::RewindSplit) {
            reporter.consoleLine(QStringLiteral("------------------error 1226"));
            return resynchronise();
        }
        reporter.consoleLine(QStringLiteral("------------------error 1221"));
    }
    checkTimeouts = 0;
    return rewindSplit();
}

void UpdateSession::sendOver()
{
    sendFrame(BootFrame::makeBootFrame(BootCmd::FirmwareOver, QByteArray(1, '\x01')));
    sinceAwaitedFrame.start();
    awaitReply(kOverWaitMs);
}

UpdateSession::State UpdateSession::overAnswer(const QByteArray &reply)
{
    if (reply.isEmpty()) {
        reporter.consoleLine(QStringLiteral("firmware packet send timeout"));
        SESSION_TRACE() << "update fail time out.............";
        return fail(UpdateFailure::Kind::AnswersStopped, QStringLiteral("no answer to FIRMWARE OVER"));
    }
    consoleReply(reply);
    if (replyCommand(reply) == BootCmd::ReturnSuccess) {
        reporter.consoleLine(QStringLiteral("firmware packet update success "));
        result = UpdateOutcome::Success;
        ending = UpdateFailure();
        return State::Report;
    }
    SESSION_TRACE() << "update fail .............";
    reporter.consoleLine(QStringLiteral("firmware packet send error"));
    return fail(UpdateFailure::Kind::Refused,
                refusal(QStringLiteral("FIRMWARE OVER"), QStringLiteral("RETURN SUCCESS"), reply));
}

void UpdateSession::report()
{
    link.cancel();
    if (result != UpdateOutcome::Success) {
        if (!ending.isFailure())
            ending = {UpdateFailure::Kind::Refused, QStringLiteral("update failed")};
        reporter.consoleLine(ending.text);
    }
    reporter.consoleLine(QStringLiteral("firmware update process over, use time=") +
                         formatElapsed(clock.elapsed()));
    SESSION_TRACE() << "update end......";
    end(result);
}

void UpdateSession::end(UpdateOutcome outcome)
{
    result = outcome;
    // The session's own copy of the image is not kept.
    firmware.clear();
    state = State::Idle;
    running = false;
    emit finished(outcome);
}

QByteArray UpdateSession::currentSplit() const
{
    return firmware.mid(int(splitIndex * device.splitLen), device.splitLen);
}

// packetIndex is split index + packet index: the device counts that way.
QByteArray UpdateSession::buildPacketFrame(const QByteArray &data) const
{
    QByteArray payload(4 + int(device.uartLen), '\0');
    BootFrame::writeLe32(bytesOf(payload), splitIndex + packetIndex);
    std::copy(data.cbegin(), data.cbegin() + qMin(data.size(), int(device.uartLen)), payload.begin() + 4);
    return BootFrame::makeBootFrame(BootCmd::FirmwarePacket, payload);
}

// The split's last byte is left out of its CRC: the device checks it that way.
QByteArray UpdateSession::buildCheckFrame() const
{
    const QByteArray split = currentSplit();
    const uint8_t splitCrc = BootFrame::crc8(split.left(device.splitLen - 1));
    return BootFrame::makeBootFrame(BootCmd::FirmwareCheck, QByteArray(1, char(splitCrc)));
}

void UpdateSession::sendFrame(const QByteArray &frame)
{
    link.writeFrame(frame);
}

void UpdateSession::consoleReply(const QByteArray &reply)
{
    reporter.consoleLine(QStringLiteral("get buffer:") + consoleHex(reply));
    consoleReturnCode(reply);
}
