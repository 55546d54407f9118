#include "tools/devsim/devicesimulator.h"

#include "protocol/bootframe.h"
#include "protocol/modulecommand.h"
#include "protocol/wiretiming.h"

#include <QRandomGenerator>
#include <QSaveFile>

namespace {

// A piece of a frame that sees no more bytes for this long is taken as line noise.
constexpr int kStallMs = 300;
// Bounds the buffer a FIRMWARE LEN makes the device allocate.
constexpr uint32_t kMaxHeldImageBytes = 64u * 1024 * 1024;
constexpr int kGarbageReplySize = 5;
// On a slow line the bytes of one frame come that far apart; a gap of a few byte times is
// still no stall.
constexpr int kStallByteTimes = 3;

int stallMs(int baudRate)
{
    return int(qMax<qint64>(kStallMs, kStallByteTimes * WireTiming::lineMs(1, baudRate)));
}

bool isFirmwarePhase(uint8_t command)
{
    return command == BootCmd::FirmwareLen || command == BootCmd::FirmwarePacket ||
           command == BootCmd::FirmwareCheck || command == BootCmd::FirmwareOver;
}

QByteArray replyFrame(uint8_t command, uint8_t value)
{
    return BootFrame::makeBootFrame(command, QByteArray(1, char(value)));
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' '));
}

QByteArray garbageReply()
{
    QByteArray bytes(kGarbageReplySize, '\0');
    for (char &byte : bytes)
        byte = char(QRandomGenerator::global()->bounded(256));
    // Garbage must never pass for an answer, however the dice fall.
    if (BootFrame::checkBootFrame(bytes))
        bytes[kGarbageReplySize - 1] = char(bytes.at(kGarbageReplySize - 1) ^ 0xFF);
    return bytes;
}

} // namespace

DeviceSimulator::DeviceSimulator(const SimulatorOptions &options, QObject *parent)
    : QObject(parent), settings(options), replyDelay(options.replyDelayMs)
{
    connect(&replyDelay, &RadioHop::delivered, this, &DeviceSimulator::output);
    // An oversized packet is still taken as one frame so that it gets a fitting answer.
    reassembler.setMaxFrameLength(qMax(7, qMax<int>(options.splitLen, options.uartLen) + 6));
    stallTimer.setSingleShot(true);
    stallTimer.setInterval(stallMs(options.baudRate));
    connect(&stallTimer, &QTimer::timeout, this, &DeviceSimulator::dropStalledByte);
    demoTimer.setSingleShot(true);
    connect(&demoTimer, &QTimer::timeout, this, &DeviceSimulator::sendDemoRequest);
    restartTimer.setSingleShot(true);
    connect(&restartTimer, &QTimer::timeout, this, [this] {
        if (settings.target == TargetKind::DemoBoard)
            sendDemoRequest();
        else
            sendSplitLen(QStringLiteral("restart after failure"));
    });
}

void DeviceSimulator::start()
{
    if (settings.target == TargetKind::DemoBoard)
        demoTimer.start(settings.demoDelayMs);
}

QByteArray DeviceSimulator::splitLenRequest() const
{
    BootFrame::SplitLenRequest request;
    request.command = BootCmd::SplitLen;
    request.splitLen = settings.splitLen;
    request.uartLen = settings.uartLen;
    request.overDelay = settings.overDelay;
    request.deviceAddr = settings.deviceAddr;
    return BootFrame::encodeSplitLenRequest(request);
}

QString DeviceSimulator::summary() const
{
    return QStringLiteral("summary: target=%1 firmware-frames=%2 packets=%3 splits-checked=%4 fails=%5 "
                          "split-len-requests=%6 result=%7")
        .arg(TargetKindText::name(settings.target))
        .arg(frameCount)
        .arg(packetsTaken)
        .arg(splitsChecked)
        .arg(failsSent)
        .arg(splitLenSent)
        .arg(succeeded ? QStringLiteral("success") : QStringLiteral("incomplete"));
}

void DeviceSimulator::receive(const QByteArray &bytes)
{
    handleItems(reassembler.feed(bytes));
    if (reassembler.hasPartialItem())
        stallTimer.start();
    else
        stallTimer.stop();
}

void DeviceSimulator::dropStalledByte()
{
    handleItems(reassembler.dropStalledByte());
    if (reassembler.hasPartialItem())
        stallTimer.start();
}

void DeviceSimulator::handleItems(const QList<FrameReassembler::Item> &items)
{
    for (const FrameReassembler::Item &item : items) {
        if (item.kind == FrameReassembler::Kind::Garbage)
            emit logLine(QStringLiteral("dropped %1 bytes: %2").arg(item.bytes.size()).arg(hex(item.bytes)));
        else if (item.kind == FrameReassembler::Kind::BootFrame)
            handleFrame(item.bytes);
        else
            handleEntryCommand(item.kind);
    }
}

void DeviceSimulator::handleEntryCommand(FrameReassembler::Kind kind)
{
    const bool gateway = kind == FrameReassembler::Kind::GatewayBootText;
    const QString what = gateway ? QStringLiteral("gateway boot text")
                         : kind == FrameReassembler::Kind::ModuleConfigCommand
                             ? QStringLiteral("module command 26 (config mode)")
                             : QStringLiteral("module command 53 (into boot)");
    const TargetKind wanted = gateway ? TargetKind::Gateway : TargetKind::Module;
    if (settings.target != wanted) {
        emit logLine(
            QStringLiteral("%1 ignored: target is %2").arg(what, TargetKindText::name(settings.target)));
        return;
    }
    emit logLine(what);
    if (kind == FrameReassembler::Kind::ModuleConfigCommand) {
        configCommandSeen = true;
        answerModuleCommand(ModuleCommand::ConfigMode);
    }
    if (kind == FrameReassembler::Kind::ModuleBootCommand) {
        bootCommandSeen = true;
        answerModuleCommand(ModuleCommand::IntoBoot);
    }
    if (gateway || (configCommandSeen && bootCommandSeen)) {
        configCommandSeen = bootCommandSeen = false;
        enterBoot();
    }
}

// A module frame, not a bootloader frame: length byte, command, result 00, CRC-8.
void DeviceSimulator::answerModuleCommand(uint8_t command)
{
    if (!settings.moduleAnswers)
        return;
    send(ModuleCommand::make(command, 0x00));
}

void DeviceSimulator::gatewayBootRequest()
{
    handleEntryCommand(FrameReassembler::Kind::GatewayBootText);
}

void DeviceSimulator::enterBoot()
{
    restartTimer.stop();
    resetSession();
    sendSplitLen(QStringLiteral("boot entry"));
}

void DeviceSimulator::handleFrame(const QByteArray &frame)
{
    const int number = isFirmwarePhase(uint8_t(frame.at(2))) ? ++frameCount : 0;
    if (number > 0)
        emit firmwareFrameReceived();
    const QString what = describeFrame(frame, number);
    if (number > 0 && injectFault(number, what))
        return;
    sendReply(what, answerFrame(frame));
}

bool DeviceSimulator::injectFault(int number, const QString &what)
{
    if (settings.silent)
        return false;
    if (settings.dropReplyFrames.contains(number)) {
        emit logLine(what + QStringLiteral(" -> no reply (--drop-reply)"));
        return true;
    }
    if (settings.garbageFrames.contains(number)) {
        const QByteArray bytes = garbageReply();
        emit logLine(what + QStringLiteral(" -> garbage %1 (--garbage-frame)").arg(hex(bytes)));
        send(bytes);
        return true;
    }
    if (settings.failFrames.contains(number)) {
        emit logLine(what + QStringLiteral(" -> RETURN FAIL %1 (--fail-frame)")
                                .arg(settings.failCode, 2, 16, QLatin1Char('0')));
        ++failsSent;
        send(replyFrame(BootCmd::ReturnFail, settings.failCode));
        if (!(settings.failCode & 0x80))
            restartAfterFailure();
        return true;
    }
    return false;
}

DeviceSimulator::Reply DeviceSimulator::answerFrame(const QByteArray &frame)
{
    if (!BootFrame::checkBootFrame(frame))
        return fail(BootReturn::CrcCheckError, QStringLiteral("frame CRC does not match"));
    switch (uint8_t(frame.at(2))) {
    case BootCmd::FirmwareLen:
        return answerFirmwareLen(frame);
    case BootCmd::FirmwarePacket:
        return answerPacket(frame);
    case BootCmd::FirmwareCheck:
        return answerCheck(frame);
    case BootCmd::FirmwareOver:
        return answerOver(frame);
    default:
        return fail(BootReturn::CmdError, QStringLiteral("no such command for the device"));
    }
}

DeviceSimulator::Reply DeviceSimulator::answerFirmwareLen(const QByteArray &frame)
{
    if (frame.size() != 9)
        return fail(BootReturn::FirmwareLenError,
                    QStringLiteral("frame of %1 bytes, 9 expected").arg(frame.size()));
    const uint32_t length = BootFrame::readLe32(reinterpret_cast<const uint8_t *>(frame.constData()) + 3);
    if (length == 0 || length > kMaxHeldImageBytes)
        return fail(BootReturn::FirmwareLenError, QStringLiteral("length %1 out of range").arg(length));
    demoTimer.stop();
    restartTimer.stop();
    if (!firmwareAnnounced)
        emit updateStarted();
    firmwareAnnounced = true;
    succeeded = false;
    image = QByteArray(int(length), char(0xFF));
    splitIndex = 0;
    nextPacket = 0;
    return {replyFrame(BootCmd::RequestFirmware, 0), QStringLiteral("REQUEST FIRMWARE")};
}

// packetIndex is split index + packet index, so the device reads the packet's place
// within the split it is receiving. It takes the next packet, a repeat of the last one
// (the tool resends after a lost answer) and packet 0 (the tool rewinds the split).
DeviceSimulator::Reply DeviceSimulator::answerPacket(const QByteArray &frame)
{
    if (!firmwareAnnounced)
        return fail(BootReturn::CmdError, QStringLiteral("no FIRMWARE LEN before"));
    const int dataSize = frame.size() - 8;
    if (dataSize != settings.uartLen)
        return fail(BootReturn::SplitLenError,
                    QStringLiteral("%1 data bytes, uartLen is %2").arg(dataSize).arg(settings.uartLen));
    const uint32_t packetIndex =
        BootFrame::readLe32(reinterpret_cast<const uint8_t *>(frame.constData()) + 3);
    const qint64 position = qint64(packetIndex) - splitIndex;
    const bool expected = position == nextPacket || position == nextPacket - 1 || position == 0;
    if (!expected || position < 0 || position >= packetsPerSplit())
        return fail(BootReturn::SplitLenError, QStringLiteral("packetIndex %1 is not packet %2 of split %3")
                                                   .arg(packetIndex)
                                                   .arg(nextPacket)
                                                   .arg(splitIndex));
    const qint64 offset = qint64(splitIndex) * settings.splitLen + position * settings.uartLen;
    if (offset >= image.size())
        return fail(BootReturn::SplitLenError, QStringLiteral("packet beyond the announced length"));
    const int count = int(qMin<qint64>(dataSize, image.size() - offset));
    image.replace(int(offset), count, frame.constData() + 7, count);
    nextPacket = int(position) + 1;
    ++packetsTaken;
    return {replyFrame(BootCmd::FirmwareContinue, 0),
            QStringLiteral("FIRMWARE CONTINUE (split %1 packet %2)").arg(splitIndex).arg(position)};
}

DeviceSimulator::Reply DeviceSimulator::answerCheck(const QByteArray &frame)
{
    if (!firmwareAnnounced)
        return fail(BootReturn::CmdError, QStringLiteral("no FIRMWARE LEN before"));
    if (frame.size() != 5)
        return fail(BootReturn::CmdError, QStringLiteral("frame of %1 bytes, 5 expected").arg(frame.size()));
    if (splitIndex >= splitCount())
        return fail(BootReturn::CmdError, QStringLiteral("every split is checked already"));
    QByteArray split = image.mid(splitIndex * settings.splitLen, settings.splitLen);
    split.append(QByteArray(settings.splitLen - split.size(), char(0xFF)));
    const uint8_t deviceCrc = BootFrame::crc8(split.left(settings.splitLen - 1));
    const uint8_t toolCrc = uint8_t(frame.at(3));
    if (toolCrc != deviceCrc)
        return fail(BootReturn::CrcCheckError, QStringLiteral("splitCrc %1, split %2 holds %3")
                                                   .arg(toolCrc, 2, 16, QLatin1Char('0'))
                                                   .arg(splitIndex)
                                                   .arg(deviceCrc, 2, 16, QLatin1Char('0')));
    const int checked = splitIndex++;
    nextPacket = 0;
    ++splitsChecked;
    return {replyFrame(BootCmd::FirmwareContinue, 0),
            QStringLiteral("FIRMWARE CONTINUE (split %1 checked)").arg(checked)};
}

DeviceSimulator::Reply DeviceSimulator::answerOver(const QByteArray &)
{
    if (!firmwareAnnounced)
        return fail(BootReturn::CmdError, QStringLiteral("no FIRMWARE LEN before"));
    if (splitIndex < splitCount())
        return fail(BootReturn::CmdError,
                    QStringLiteral("only %1 of %2 splits checked").arg(splitIndex).arg(splitCount()));
    QString error;
    if (!writeImage(&error))
        return fail(BootReturn::CmdError, error);
    const int imageSize = image.size();
    succeeded = true;
    resetSession();
    emit updateConfirmed();
    const QString written =
        settings.outputPath.isEmpty()
            ? QStringLiteral("%1 bytes received").arg(imageSize)
            : QStringLiteral("%1 bytes written to %2").arg(imageSize).arg(settings.outputPath);
    if (settings.overReply >= 0)
        return {replyFrame(uint8_t(settings.overReply), 0),
                QStringLiteral("command %1 (--over-reply), %2")
                    .arg(settings.overReply, 2, 16, QLatin1Char('0'))
                    .arg(written)};
    return {replyFrame(BootCmd::ReturnSuccess, 0), QStringLiteral("RETURN SUCCESS, ") + written};
}

DeviceSimulator::Reply DeviceSimulator::fail(uint8_t code, const QString &why)
{
    ++failsSent;
    restartAfterFailure();
    return {replyFrame(BootCmd::ReturnFail, code),
            QStringLiteral("RETURN FAIL %1: %2").arg(BootFrame::bootReturnName(code), why)};
}

void DeviceSimulator::sendReply(const QString &what, const Reply &reply)
{
    // The answer goes on the line first: its line time covers the cost of the log line.
    send(reply.frame);
    emit logLine(what + QStringLiteral(" -> ") + reply.text);
}

void DeviceSimulator::send(const QByteArray &bytes)
{
    if (settings.silent)
        return;
    replyDelay.send(bytes);
}

void DeviceSimulator::sendSplitLen(const QString &why)
{
    ++splitLenSent;
    emit logLine(QStringLiteral("SPLIT LEN (%1): splitLen %2 uartLen %3 overDelay %4 deviceAddr %5%6")
                     .arg(why)
                     .arg(settings.splitLen)
                     .arg(settings.uartLen)
                     .arg(settings.overDelay)
                     .arg(QStringLiteral("%1").arg(settings.deviceAddr, 8, 16, QLatin1Char('0')).toUpper())
                     .arg(settings.silent ? QStringLiteral(" (silent)") : QString()));
    send(splitLenRequest());
}

void DeviceSimulator::resetSession()
{
    firmwareAnnounced = false;
    image.clear();
    splitIndex = 0;
    nextPacket = 0;
}

// A bootloader that reported an error other than a rewind starts over and asks again;
// the pause keeps its request apart from the failure answer on the line.
void DeviceSimulator::restartAfterFailure()
{
    resetSession();
    if (settings.restartDelayMs >= 0)
        restartTimer.start(settings.restartDelayMs);
}

void DeviceSimulator::sendDemoRequest()
{
    if (firmwareAnnounced)
        return;
    sendSplitLen(QStringLiteral("demo board"));
    demoTimer.start(settings.demoRepeatMs);
}

bool DeviceSimulator::writeImage(QString *error) const
{
    if (settings.outputPath.isEmpty())
        return true;
    QSaveFile file(settings.outputPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(image) != image.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(settings.outputPath, file.errorString());
        return false;
    }
    return true;
}

QString DeviceSimulator::describeFrame(const QByteArray &frame, int number) const
{
    const uint8_t command = uint8_t(frame.at(2));
    const auto *p = reinterpret_cast<const uint8_t *>(frame.constData());
    QString text = number > 0 ? QStringLiteral("frame %1 ").arg(number) : QStringLiteral("frame ");
    text += BootFrame::bootCommandName(command);
    if (command == BootCmd::FirmwareLen && frame.size() >= 8)
        text += QStringLiteral(" length %1").arg(BootFrame::readLe32(p + 3));
    else if (command == BootCmd::FirmwarePacket && frame.size() >= 8)
        text += QStringLiteral(" packetIndex %1, %2 data bytes")
                    .arg(BootFrame::readLe32(p + 3))
                    .arg(frame.size() - 8);
    else if (command == BootCmd::FirmwareCheck)
        text += QStringLiteral(" splitCrc %1").arg(p[3], 2, 16, QLatin1Char('0'));
    return text;
}

int DeviceSimulator::splitCount() const
{
    return int((qint64(image.size()) + settings.splitLen - 1) / settings.splitLen);
}

int DeviceSimulator::packetsPerSplit() const
{
    return settings.splitLen / settings.uartLen;
}
