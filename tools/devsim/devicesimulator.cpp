#include "devicesimulator.h"

#include "bootframe.h"
#include "wiretiming.h"

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
    if (baudRate <= 0)
        return kStallMs;
    return int(qMax<qint64>(kStallMs, kStallByteTimes * WireTiming::lineMs(1, baudRate)));
}

bool isFirmwarePhase(uint8_t command)
{
    return command == BootCmd::FirmwareLen || command == BootCmd::FirmwarePacket ||
           command == BootCmd::FirmwareCheck || command == BootCmd::FirmwareOver;
}

QByteArray replyFrame(uint8_t command, uint8_t value)
{
    return makeBootFrame(command, QByteArray(1, char(value)));
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
    if (checkBootFrame(bytes))
        bytes[kGarbageReplySize - 1] = char(bytes.at(kGarbageReplySize - 1) ^ 0xFF);
    return bytes;
}

} // namespace

DeviceSimulator::DeviceSimulator(const SimulatorOptions &options, QObject *parent)
    : QObject(parent), m_options(options)
{
    // An oversized packet is still taken as one frame so that it gets a fitting answer.
    m_reassembler.setMaxFrameLength(qMax(7, qMax<int>(options.splitLen, options.uartLen) + 6));
    m_stallTimer.setSingleShot(true);
    m_stallTimer.setInterval(stallMs(options.baudRate));
    connect(&m_stallTimer, &QTimer::timeout, this, &DeviceSimulator::dropStalledByte);
    m_demoTimer.setSingleShot(true);
    connect(&m_demoTimer, &QTimer::timeout, this, &DeviceSimulator::sendDemoRequest);
    m_restartTimer.setSingleShot(true);
    connect(&m_restartTimer, &QTimer::timeout, this, [this] {
        if (m_options.target == DeviceTarget::Demo)
            sendDemoRequest();
        else
            sendSplitLen(QStringLiteral("restart after failure"));
    });
}

void DeviceSimulator::start()
{
    if (m_options.target == DeviceTarget::Demo)
        m_demoTimer.start(m_options.demoDelayMs);
}

QByteArray DeviceSimulator::splitLenRequest() const
{
    SplitLenRequest request;
    request.command = BootCmd::SplitLen;
    request.splitLen = m_options.splitLen;
    request.uartLen = m_options.uartLen;
    request.overDelay = m_options.overDelay;
    request.deviceAddr = m_options.deviceAddr;
    return encodeSplitLenRequest(request);
}

QString DeviceSimulator::summary() const
{
    return QStringLiteral("summary: target=%1 firmware-frames=%2 packets=%3 splits-checked=%4 fails=%5 "
                          "split-len-requests=%6 result=%7")
        .arg(targetName(m_options.target))
        .arg(m_frameCount)
        .arg(m_packetsTaken)
        .arg(m_splitsChecked)
        .arg(m_failsSent)
        .arg(m_splitLenSent)
        .arg(m_succeeded ? QStringLiteral("success") : QStringLiteral("incomplete"));
}

void DeviceSimulator::receive(const QByteArray &bytes)
{
    handleItems(m_reassembler.feed(bytes));
    if (m_reassembler.hasPartialItem())
        m_stallTimer.start();
    else
        m_stallTimer.stop();
}

void DeviceSimulator::dropStalledByte()
{
    handleItems(m_reassembler.dropStalledByte());
    if (m_reassembler.hasPartialItem())
        m_stallTimer.start();
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
    const DeviceTarget wanted = gateway ? DeviceTarget::Gateway : DeviceTarget::Module;
    if (m_options.target != wanted) {
        emit logLine(QStringLiteral("%1 ignored: target is %2").arg(what, targetName(m_options.target)));
        return;
    }
    emit logLine(what);
    if (kind == FrameReassembler::Kind::ModuleConfigCommand) {
        m_configCommandSeen = true;
        answerModuleCommand(0x26);
    }
    if (kind == FrameReassembler::Kind::ModuleBootCommand) {
        m_bootCommandSeen = true;
        answerModuleCommand(0x53);
    }
    if (gateway || (m_configCommandSeen && m_bootCommandSeen)) {
        m_configCommandSeen = m_bootCommandSeen = false;
        enterBoot();
    }
}

// A module frame, not a bootloader frame: length byte, command, result 00, CRC-8.
void DeviceSimulator::answerModuleCommand(uint8_t command)
{
    if (!m_options.moduleAnswers)
        return;
    QByteArray answer = QByteArray::fromHex("03") + char(command) + '\0';
    answer.append(char(crc8(answer)));
    send(answer);
}

void DeviceSimulator::gatewayBootRequest()
{
    handleEntryCommand(FrameReassembler::Kind::GatewayBootText);
}

void DeviceSimulator::enterBoot()
{
    m_restartTimer.stop();
    resetSession();
    sendSplitLen(QStringLiteral("boot entry"));
}

void DeviceSimulator::handleFrame(const QByteArray &frame)
{
    const int number = isFirmwarePhase(uint8_t(frame.at(2))) ? ++m_frameCount : 0;
    const QString what = describeFrame(frame, number);
    if (number > 0 && injectFault(number, what))
        return;
    sendReply(what, answerFrame(frame));
}

bool DeviceSimulator::injectFault(int number, const QString &what)
{
    if (m_options.silent)
        return false;
    if (m_options.dropReplyFrames.contains(number)) {
        emit logLine(what + QStringLiteral(" -> no reply (--drop-reply)"));
        return true;
    }
    if (m_options.garbageFrames.contains(number)) {
        const QByteArray bytes = garbageReply();
        emit logLine(what + QStringLiteral(" -> garbage %1 (--garbage-frame)").arg(hex(bytes)));
        send(bytes);
        return true;
    }
    if (m_options.failFrames.contains(number)) {
        emit logLine(what + QStringLiteral(" -> RETURN FAIL %1 (--fail-frame)")
                                .arg(m_options.failCode, 2, 16, QLatin1Char('0')));
        ++m_failsSent;
        send(replyFrame(BootCmd::ReturnFail, m_options.failCode));
        if (!(m_options.failCode & 0x80))
            restartAfterFailure();
        return true;
    }
    return false;
}

DeviceSimulator::Reply DeviceSimulator::answerFrame(const QByteArray &frame)
{
    if (!checkBootFrame(frame))
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
    const uint32_t length = readLe32(reinterpret_cast<const uint8_t *>(frame.constData()) + 3);
    if (length == 0 || length > kMaxHeldImageBytes)
        return fail(BootReturn::FirmwareLenError, QStringLiteral("length %1 out of range").arg(length));
    m_demoTimer.stop();
    m_restartTimer.stop();
    m_firmwareAnnounced = true;
    m_succeeded = false;
    m_image = QByteArray(int(length), char(0xFF));
    m_split = 0;
    m_nextPacket = 0;
    return {replyFrame(BootCmd::RequestFirmware, 0), QStringLiteral("REQUEST FIRMWARE")};
}

// packetIndex is split index + packet index, so the device reads the packet's place
// within the split it is receiving. It takes the next packet, a repeat of the last one
// (the tool resends after a lost answer) and packet 0 (the tool rewinds the split).
DeviceSimulator::Reply DeviceSimulator::answerPacket(const QByteArray &frame)
{
    if (!m_firmwareAnnounced)
        return fail(BootReturn::CmdError, QStringLiteral("no FIRMWARE LEN before"));
    const int dataSize = frame.size() - 8;
    if (dataSize != m_options.uartLen)
        return fail(BootReturn::SplitLenError,
                    QStringLiteral("%1 data bytes, uartLen is %2").arg(dataSize).arg(m_options.uartLen));
    const uint32_t packetIndex = readLe32(reinterpret_cast<const uint8_t *>(frame.constData()) + 3);
    const qint64 position = qint64(packetIndex) - m_split;
    const bool expected = position == m_nextPacket || position == m_nextPacket - 1 || position == 0;
    if (!expected || position < 0 || position >= packetsPerSplit())
        return fail(BootReturn::SplitLenError, QStringLiteral("packetIndex %1 is not packet %2 of split %3")
                                                   .arg(packetIndex)
                                                   .arg(m_nextPacket)
                                                   .arg(m_split));
    const qint64 offset = qint64(m_split) * m_options.splitLen + position * m_options.uartLen;
    if (offset >= m_image.size())
        return fail(BootReturn::SplitLenError, QStringLiteral("packet beyond the announced length"));
    const int count = int(qMin<qint64>(dataSize, m_image.size() - offset));
    m_image.replace(int(offset), count, frame.constData() + 7, count);
    m_nextPacket = int(position) + 1;
    ++m_packetsTaken;
    return {replyFrame(BootCmd::FirmwareContinue, 0),
            QStringLiteral("FIRMWARE CONTINUE (split %1 packet %2)").arg(m_split).arg(position)};
}

DeviceSimulator::Reply DeviceSimulator::answerCheck(const QByteArray &frame)
{
    if (!m_firmwareAnnounced)
        return fail(BootReturn::CmdError, QStringLiteral("no FIRMWARE LEN before"));
    if (frame.size() != 5)
        return fail(BootReturn::CmdError, QStringLiteral("frame of %1 bytes, 5 expected").arg(frame.size()));
    if (m_split >= splitCount())
        return fail(BootReturn::CmdError, QStringLiteral("every split is checked already"));
    QByteArray split = m_image.mid(m_split * m_options.splitLen, m_options.splitLen);
    split.append(QByteArray(m_options.splitLen - split.size(), char(0xFF)));
    const uint8_t deviceCrc = crc8(split.left(m_options.splitLen - 1));
    const uint8_t toolCrc = uint8_t(frame.at(3));
    if (toolCrc != deviceCrc)
        return fail(BootReturn::CrcCheckError, QStringLiteral("splitCrc %1, split %2 holds %3")
                                                   .arg(toolCrc, 2, 16, QLatin1Char('0'))
                                                   .arg(m_split)
                                                   .arg(deviceCrc, 2, 16, QLatin1Char('0')));
    const int checked = m_split++;
    m_nextPacket = 0;
    ++m_splitsChecked;
    return {replyFrame(BootCmd::FirmwareContinue, 0),
            QStringLiteral("FIRMWARE CONTINUE (split %1 checked)").arg(checked)};
}

DeviceSimulator::Reply DeviceSimulator::answerOver(const QByteArray &)
{
    if (!m_firmwareAnnounced)
        return fail(BootReturn::CmdError, QStringLiteral("no FIRMWARE LEN before"));
    if (m_split < splitCount())
        return fail(BootReturn::CmdError,
                    QStringLiteral("only %1 of %2 splits checked").arg(m_split).arg(splitCount()));
    QString error;
    if (!writeImage(&error))
        return fail(BootReturn::CmdError, error);
    const int imageSize = m_image.size();
    m_succeeded = true;
    resetSession();
    const QString written =
        m_options.outputPath.isEmpty()
            ? QStringLiteral("%1 bytes received").arg(imageSize)
            : QStringLiteral("%1 bytes written to %2").arg(imageSize).arg(m_options.outputPath);
    if (m_options.overReply >= 0)
        return {replyFrame(uint8_t(m_options.overReply), 0),
                QStringLiteral("command %1 (--over-reply), %2")
                    .arg(m_options.overReply, 2, 16, QLatin1Char('0'))
                    .arg(written)};
    return {replyFrame(BootCmd::ReturnSuccess, 0), QStringLiteral("RETURN SUCCESS, ") + written};
}

DeviceSimulator::Reply DeviceSimulator::fail(uint8_t code, const QString &why)
{
    ++m_failsSent;
    restartAfterFailure();
    return {replyFrame(BootCmd::ReturnFail, code),
            QStringLiteral("RETURN FAIL %1: %2").arg(bootReturnName(code), why)};
}

void DeviceSimulator::sendReply(const QString &what, const Reply &reply)
{
    // The answer goes on the line first: its line time covers the cost of the log line.
    send(reply.frame);
    emit logLine(what + QStringLiteral(" -> ") + reply.text);
}

void DeviceSimulator::send(const QByteArray &bytes)
{
    if (m_options.silent)
        return;
    if (m_options.replyDelayMs > 0)
        QTimer::singleShot(m_options.replyDelayMs, this, [this, bytes] { emit output(bytes); });
    else
        emit output(bytes);
}

void DeviceSimulator::sendSplitLen(const QString &why)
{
    ++m_splitLenSent;
    emit logLine(QStringLiteral("SPLIT LEN (%1): splitLen %2 uartLen %3 overDelay %4 deviceAddr %5%6")
                     .arg(why)
                     .arg(m_options.splitLen)
                     .arg(m_options.uartLen)
                     .arg(m_options.overDelay)
                     .arg(QStringLiteral("%1").arg(m_options.deviceAddr, 8, 16, QLatin1Char('0')).toUpper())
                     .arg(m_options.silent ? QStringLiteral(" (silent)") : QString()));
    send(splitLenRequest());
}

void DeviceSimulator::resetSession()
{
    m_firmwareAnnounced = false;
    m_image.clear();
    m_split = 0;
    m_nextPacket = 0;
}

// A bootloader that reported an error other than a rewind starts over and asks again;
// the pause keeps its request apart from the failure answer on the line.
void DeviceSimulator::restartAfterFailure()
{
    resetSession();
    if (m_options.restartDelayMs >= 0)
        m_restartTimer.start(m_options.restartDelayMs);
}

void DeviceSimulator::sendDemoRequest()
{
    if (m_firmwareAnnounced)
        return;
    sendSplitLen(QStringLiteral("demo board"));
    m_demoTimer.start(m_options.demoRepeatMs);
}

bool DeviceSimulator::writeImage(QString *error) const
{
    if (m_options.outputPath.isEmpty())
        return true;
    QSaveFile file(m_options.outputPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(m_image) != m_image.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_options.outputPath, file.errorString());
        return false;
    }
    return true;
}

QString DeviceSimulator::describeFrame(const QByteArray &frame, int number) const
{
    const uint8_t command = uint8_t(frame.at(2));
    const auto *p = reinterpret_cast<const uint8_t *>(frame.constData());
    QString text = number > 0 ? QStringLiteral("frame %1 ").arg(number) : QStringLiteral("frame ");
    text += bootCommandName(command);
    if (command == BootCmd::FirmwareLen && frame.size() >= 8)
        text += QStringLiteral(" length %1").arg(readLe32(p + 3));
    else if (command == BootCmd::FirmwarePacket && frame.size() >= 8)
        text += QStringLiteral(" packetIndex %1, %2 data bytes").arg(readLe32(p + 3)).arg(frame.size() - 8);
    else if (command == BootCmd::FirmwareCheck)
        text += QStringLiteral(" splitCrc %1").arg(p[3], 2, 16, QLatin1Char('0'));
    return text;
}

int DeviceSimulator::splitCount() const
{
    return int((qint64(m_image.size()) + m_options.splitLen - 1) / m_options.splitLen);
}

int DeviceSimulator::packetsPerSplit() const
{
    return m_options.splitLen / m_options.uartLen;
}
