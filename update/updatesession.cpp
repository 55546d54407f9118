#include "updatesession.h"

#include "debugtrace.h"
#include "nativefile.h"
#include "updatelink.h"
#include "updatereporter.h"

#include <QFileInfo>
#include <QScopedValueRollback>

#define SESSION_TRACE() MAIN_TRACE_AS("sendFirmwarePacket")

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
}

UpdateSession::~UpdateSession() = default;

void UpdateSession::requestAbort()
{
    if (running)
        abortRequested = true;
}

int UpdateSession::replyCommand(const QByteArray &reply)
{
    return checkBootFrame(reply) ? replyByte(reply, 2) : -1;
}

QString UpdateSession::refusal(const QString &frame, const QString &expected, const QByteArray &reply)
{
    const int command = replyCommand(reply);
    if (command == BootCmd::ReturnFail && reply.size() > 4)
        return QStringLiteral("%1 refused by the device: %2")
            .arg(frame, bootReturnName(uint8_t(reply.at(3))));
    const QString answer =
        command < 0 ? QStringLiteral("a reply that is not a valid frame") : bootCommandName(uint8_t(command));
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
    if (checkBootFrame(frame, returnFrameSize) && frame[2] == BootCmd::ReturnFail)
        MAIN_TRACE_AS("consoleReturnCode") << "bootloader return fail []" << bootReturnName(frame[3]);
}

UpdateOutcome UpdateSession::run(const QString &path, const QByteArray *packet)
{
    if (running) {
        reporter.consoleLine(QStringLiteral("update already running, request ignored"));
        return UpdateOutcome::Busy;
    }
    // The waits process events, so the start button can be pressed again while a session runs.
    const QScopedValueRollback<bool> runningFlag(running, true);
    abortRequested = false;
    failure.clear();
    link.setStopCheck([this] { return abortRequested; });

    State state = stepPrepare(path, packet);
    while (state != State::Done) {
        if (state != State::Report && halted())
            state = State::Report;
        switch (state) {
        case State::Prepare:
            state = stepPrepare(path, packet);
            break;
        case State::Connect:
            state = stepConnect();
            break;
        case State::Resynchronise:
            state = stepResynchronise();
            break;
        case State::Parameters:
            state = stepParameters();
            break;
        case State::Announce:
            state = stepAnnounce();
            break;
        case State::Transfer:
            state = stepTransfer();
            break;
        case State::Check:
            state = stepCheck();
            break;
        case State::Finish:
            state = stepFinish();
            break;
        case State::Report:
            state = stepReport();
            break;
        case State::Done:
            break;
        }
    }
    // The session's own copy of the image is not kept.
    firmware.clear();
    link.setStopCheck(nullptr);
    abortRequested = false;
    return outcome;
}

// The session cannot go on when it was aborted or its link went away (port closed or lost).
bool UpdateSession::halted()
{
    if (abortRequested) {
        failure = QStringLiteral("update aborted");
        return true;
    }
    const QString reason = link.unavailableReason();
    if (reason.isEmpty())
        return false;
    failure = reason;
    return true;
}

// An empty reply is a time-out only while the session can go on; otherwise the wait ended
// because it was aborted or its link went away, and `halted()` has named why.
int UpdateSession::splitLenWaitMs() const
{
    return link.usesGateway() ? kSplitLenWaitGatewayMs : kSplitLenWaitSerialMs;
}

bool UpdateSession::waitForReply(int timeoutMs, QByteArray *reply)
{
    *reply = link.waitReply(timeoutMs);
    return !reply->isEmpty() || !halted();
}

UpdateSession::State UpdateSession::fail(const QString &reason)
{
    failure = reason;
    return State::Report;
}

UpdateSession::State UpdateSession::stepPrepare(const QString &path, const QByteArray *packet)
{
    clock.start();
    outcome = UpdateOutcome::Failed;
    firmware.clear();
    connectAttempt = 0;
    resynchronisations = 0;

    if (path.isEmpty() && !packet) {
        SESSION_TRACE() << "path error";
        return fail(QStringLiteral("no firmware image given"));
    }
    if (!packet || packet->isEmpty()) {
        SESSION_TRACE() << "use nation firmware";
        reporter.consoleLine(QStringLiteral("use nation firmware"));
        readOk = readLocalFile(path);
    } else {
        firmware = *packet;
        SESSION_TRACE() << "use netserver firmware";
        reporter.consoleLine(QStringLiteral("use netserver firmware"));
    }
    if (firmware.isEmpty()) {
        reporter.consoleLine(QStringLiteral("firmware packet is empty"));
        outcome = UpdateOutcome::EmptyImage;
        return State::Done;
    }
    firmLen = quint32(firmware.size());
    reporter.progressReset();
    reporter.consoleLine(QStringLiteral("start to send packet"));
    return State::Connect;
}

UpdateSession::State UpdateSession::stepConnect()
{
    if (connectAttempt >= kConnectAttempts)
        return fail(QStringLiteral("no SPLIT LEN request from the device after %1 connect attempts")
                        .arg(kConnectAttempts));
    reporter.consoleLine(QStringLiteral("trying to connect device ") + QString::number(connectAttempt));
    ++connectAttempt;
    link.sendBootEntry();
    if (halted())
        return State::Report;
    QByteArray reply;
    if (!waitForReply(splitLenWaitMs(), &reply))
        return State::Report;
    return takeSplitLenRequest(reply) ? State::Parameters : State::Connect;
}

// The device restarts its request on its own: wait once more, without a boot entry.
UpdateSession::State UpdateSession::stepResynchronise()
{
    QByteArray reply;
    if (!waitForReply(splitLenWaitMs(), &reply))
        return State::Report;
    if (takeSplitLenRequest(reply))
        return State::Parameters;
    return fail(QStringLiteral("the device did not send a new SPLIT LEN request after RETURN FAIL"));
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
    if (!parseSplitLenRequest(reply, &device)) {
        reporter.consoleLine(QStringLiteral("SPLIT LEN request too short (%1 of %2 bytes), ignored")
                                 .arg(reply.size())
                                 .arg(kSplitLenFrameSize));
        return false;
    }
    splitLenReply = reply;
    return true;
}

UpdateSession::State UpdateSession::stepParameters()
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

    if (!parametersUsable())
        return State::Report;
    padImage();
    reporter.progressMaximum(int(firmLen));
    SESSION_TRACE() << "get uart firm_len" << firmLen;
    splitCount = firmLen / device.splitLen;
    packetsPerSplit = device.splitLen / device.uartLen;
    return State::Announce;
}

bool UpdateSession::parametersUsable()
{
    const auto refuse = [this](const QString &reason) {
        failure = QStringLiteral("device parameters unusable: ") + reason;
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

void UpdateSession::padImage()
{
    if (firmLen % device.splitLen == 0)
        return;
    const quint32 padding = (firmLen / device.splitLen + 1) * device.splitLen - firmLen;
    SESSION_TRACE() << "get uart firm_len" << padding;
    firmware.append(int(padding), char(0xFF));
    firmLen = quint32(firmware.size());
}

UpdateSession::State UpdateSession::stepAnnounce()
{
    QByteArray length(4, '\0');
    writeLe32(bytesOf(length), firmLen);
    sendFrame(makeBootFrame(BootCmd::FirmwareLen, length + '\x01'));
    SESSION_TRACE() << "get uart split len";

    QByteArray reply;
    if (!waitForReply(kFirmwareLenWaitMs, &reply))
        return State::Report;
    if (reply.isEmpty()) {
        SESSION_TRACE() << "update fail time out.............";
        return fail(QStringLiteral("no answer to FIRMWARE LEN"));
    }
    reporter.consoleLine(QStringLiteral("get buffer:") + consoleHex(reply));
    SESSION_TRACE() << "get uart" << traceHex(reply);
    SESSION_TRACE() << "get uart cmd" << replyByte(reply, 2);
    consoleReturnCode(reply);
    if (replyCommand(reply) != BootCmd::RequestFirmware)
        return fail(refusal(QStringLiteral("FIRMWARE LEN"), QStringLiteral("REQUEST FIRMWARE"), reply));
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

UpdateSession::State UpdateSession::stepTransfer()
{
    reporter.consoleLine(QStringLiteral("firmware packet sending - ") + QString::number(bytesRemaining));
    const QByteArray data = currentSplit().mid(int(packetIndex * device.uartLen), device.uartLen);
    sendFrame(buildPacketFrame(data));

    QByteArray reply;
    if (!waitForReply(kPacketWaitMs, &reply))
        return State::Report;
    if (reply.isEmpty()) {
        reporter.consoleLine(QStringLiteral("firmware packet send timeout ") +
                             QString::number(packetTimeouts));
        SESSION_TRACE() << "wait continue update fail time out.............";
        if (packetTimeouts >= kLastAllowedTimeout)
            return fail(QStringLiteral("packet %1 of split %2 not answered %3 times in a row, giving up")
                            .arg(packetIndex)
                            .arg(splitIndex)
                            .arg(kLastAllowedTimeout + 1));
        ++packetTimeouts;
    } else {
        consoleReply(reply);
        const int command = replyCommand(reply);
        if (command == BootCmd::FirmwareContinue) {
            acknowledgePacket();
        } else if (command == BootCmd::ReturnFail && replyByte(reply, 3) == BootReturn::RewindSplit) {
            SESSION_TRACE() << "RC_SPLIT_LEN_ERROR goto SCROLL_FLAG";
            reporter.consoleLine(QStringLiteral("------------------error 1164"));
            return rewindSplit();
        } else if (command == BootCmd::ReturnFail) {
            reporter.consoleLine(QStringLiteral("------------------error  1168"));
            return resynchronise();
        } else {
            packetTimeouts = 0;
            if (++packetRepeats > kMaxPacketRepeats)
                return fail(QStringLiteral("packet %1 of split %2 refused %3 times, giving up")
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
        return fail(QStringLiteral("split %1 started again %2 times, giving up")
                        .arg(splitIndex)
                        .arg(kMaxSplitRewinds));
    restartSplit();
    return splitStart();
}

UpdateSession::State UpdateSession::resynchronise()
{
    if (++resynchronisations > kMaxResynchronisations)
        return fail(
            QStringLiteral("device restarted its request %1 times, giving up").arg(kMaxResynchronisations));
    // Past the last attempt, so a missing request ends the session instead of connecting again.
    connectAttempt = 100;
    return State::Resynchronise;
}

UpdateSession::State UpdateSession::stepCheck()
{
    sendFrame(buildCheckFrame());
    QByteArray reply;
    if (!waitForReply(kCheckWaitMs, &reply))
        return State::Report;
    if (reply.isEmpty()) {
        reporter.consoleLine(QStringLiteral("firmware packet send timeout ") +
                             QString::number(checkTimeouts));
        SESSION_TRACE() << "send check update fail time out.............";
        if (checkTimeouts >= kLastAllowedTimeout)
            return fail(QStringLiteral("check of split %1 not answered %2 times in a row, giving up")
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
        if (replyByte(reply, 3) != BootReturn::RewindSplit) {
            reporter.consoleLine(QStringLiteral("------------------error 1226"));
            return resynchronise();
        }
        reporter.consoleLine(QStringLiteral("------------------error 1221"));
    }
    checkTimeouts = 0;
    return rewindSplit();
}

UpdateSession::State UpdateSession::stepFinish()
{
    link.delayMs(device.overDelay);
    if (halted())
        return State::Report;
    sendFrame(makeBootFrame(BootCmd::FirmwareOver, QByteArray(1, '\x01')));

    QByteArray reply;
    if (!waitForReply(kOverWaitMs, &reply))
        return State::Report;
    if (reply.isEmpty()) {
        reporter.consoleLine(QStringLiteral("firmware packet send timeout"));
        SESSION_TRACE() << "update fail time out.............";
        return fail(QStringLiteral("no answer to FIRMWARE OVER"));
    }
    consoleReply(reply);
    if (replyCommand(reply) == BootCmd::ReturnSuccess) {
        reporter.consoleLine(QStringLiteral("firmware packet update success "));
        outcome = UpdateOutcome::Success;
        return State::Report;
    }
    SESSION_TRACE() << "update fail .............";
    reporter.consoleLine(QStringLiteral("firmware packet send error"));
    return fail(refusal(QStringLiteral("FIRMWARE OVER"), QStringLiteral("RETURN SUCCESS"), reply));
}

UpdateSession::State UpdateSession::stepReport()
{
    if (outcome != UpdateOutcome::Success) {
        if (failure.isEmpty())
            failure = QStringLiteral("update failed");
        reporter.consoleLine(failure);
    }
    reporter.consoleLine(QStringLiteral("firmware update process over, use time=") +
                         formatElapsed(clock.elapsed()));
    SESSION_TRACE() << "update end......";
    return State::Done;
}

QByteArray UpdateSession::currentSplit() const
{
    return firmware.mid(int(splitIndex * device.splitLen), device.splitLen);
}

// packetIndex is split index + packet index: the device counts that way.
QByteArray UpdateSession::buildPacketFrame(const QByteArray &data) const
{
    QByteArray payload(4 + int(device.uartLen), '\0');
    writeLe32(bytesOf(payload), splitIndex + packetIndex);
    std::copy(data.cbegin(), data.cbegin() + qMin(data.size(), int(device.uartLen)), payload.begin() + 4);
    return makeBootFrame(BootCmd::FirmwarePacket, payload);
}

// The split's last byte is left out of its CRC: the device checks it that way.
QByteArray UpdateSession::buildCheckFrame() const
{
    const QByteArray split = currentSplit();
    const uint8_t splitCrc = crc8(split.left(device.splitLen - 1));
    return makeBootFrame(BootCmd::FirmwareCheck, QByteArray(1, char(splitCrc)));
}

void UpdateSession::sendFrame(const QByteArray &frame)
{
    link.writeFrame(frame.constData(), frame.size());
}

void UpdateSession::consoleReply(const QByteArray &reply)
{
    reporter.consoleLine(QStringLiteral("get buffer:") + consoleHex(reply));
    consoleReturnCode(reply);
}

bool UpdateSession::readLocalFile(const QString &path)
{
    firmware.clear();
    const QString problem = imageFileProblem(path);
    if (!problem.isEmpty()) {
        reporter.consoleLine(problem);
        return false;
    }
    NativeFile store;
    return store.getFileContent(path, &firmware);
}

QString UpdateSession::imageFileProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    if (!info.isFile())
        return QStringLiteral("firmware %1 is not a regular file").arg(path);
    if (info.size() > kMaxImageBytes)
        return QStringLiteral("firmware %1 is too large: %2 bytes, the most an update can send is %3 bytes")
            .arg(path)
            .arg(info.size())
            .arg(kMaxImageBytes);
    return QString();
}
