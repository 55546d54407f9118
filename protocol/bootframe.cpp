#include "protocol/bootframe.h"

#include <array>

namespace {

constexpr uint8_t shiftedByte(uint8_t value)
{
    for (int bit = 0; bit < 8; ++bit)
        value = (value & 0x80) ? uint8_t((value << 1) ^ 0x07) : uint8_t(value << 1);
    return value;
}

// A byte at a time rather than a bit: every frame of an update, and each split, is summed.
constexpr std::array<uint8_t, 256> makeCrcTable()
{
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[size_t(i)] = shiftedByte(uint8_t(i));
    return table;
}

constexpr std::array<uint8_t, 256> kCrcTable = makeCrcTable();

uint8_t crcUpdate(uint8_t crc, uint8_t byte)
{
    return kCrcTable[uint8_t(crc ^ byte)];
}

} // namespace

namespace BootFrame {

uint8_t crc8(const uint8_t *data, uint16_t length)
{
    uint8_t crc = 0x55;
    for (uint16_t i = 0; i < length; ++i)
        crc = crcUpdate(crc, data[i]);
    return crc;
}

uint8_t crc8(const QByteArray &data)
{
    uint8_t crc = 0x55;
    for (char c : data)
        crc = crcUpdate(crc, uint8_t(c));
    return crc;
}

void encodeBootFrame(uint8_t *buffer, uint16_t total)
{
    if (total < 3)
        return;
    writeLe16(buffer, uint16_t(total - 2));
    buffer[total - 1] = crc8(buffer, uint16_t(total - 1));
}

bool checkBootFrame(const uint8_t *buffer, uint16_t total)
{
    if (total < 3)
        return false;
    const uint16_t length = readLe16(buffer);
    if (length > total || length != total - 2)
        return false;
    return buffer[total - 1] == crc8(buffer, uint16_t(total - 1));
}

bool checkBootFrame(const QByteArray &frame)
{
    if (frame.size() > 0xFFFF)
        return false;
    return checkBootFrame(reinterpret_cast<const uint8_t *>(frame.constData()), uint16_t(frame.size()));
}

QByteArray makeBootFrame(uint8_t command, const QByteArray &payload)
{
    QByteArray frame(2, '\0');
    frame.append(char(command));
    frame.append(payload);
    frame.append('\0');
    encodeBootFrame(reinterpret_cast<uint8_t *>(frame.data()), uint16_t(frame.size()));
    return frame;
}

bool isReplyCommand(uint8_t command)
{
    return command == BootCmd::SplitLen || command == BootCmd::RequestFirmware ||
           command == BootCmd::FirmwareContinue || command == BootCmd::ReturnSuccess ||
           command == BootCmd::ReturnFail;
}

QString bootCommandName(uint8_t command)
{
    static const std::array<const char *, 8> names = {
        "NULL",           "SPLIT LEN",         "FIRMWARE LEN", "REQUEST FIRMWARE", "FIRMWARE PACKET",
        "FIRMWARE CHECK", "FIRMWARE CONTINUE", "FIRMWARE OVER"};
    if (command < names.size())
        return QString::fromLatin1(names[command]);
    if (command == BootCmd::ReturnSuccess)
        return QStringLiteral("RETURN SUCCESS");
    if (command == BootCmd::ReturnFail)
        return QStringLiteral("RETURN FAIL");
    return QStringLiteral("UNKNOWN 0x%1").arg(command, 2, 16, QLatin1Char('0'));
}

QString bootReturnName(uint8_t returnByte)
{
    static const std::array<const char *, 6> names = {"SUCCESS",   "PROTOCOL TIME OUT", "CRC CHECK ERROR",
                                                      "CMD ERROR", "SPLIT LEN ERROR",   "FIRMWARE LEN ERROR"};
    const uint8_t code = returnByte & 0x7F;
    if (code < names.size())
        return QString::fromLatin1(names[code]);
    return QStringLiteral("UNKNOWN %1").arg(code);
}

int replyByte(const QByteArray &reply, int index)
{
    if (index < 0 || index >= reply.size())
        return -1;
    return uint8_t(reply.at(index));
}

bool parseSplitLenRequest(const QByteArray &reply, SplitLenRequest *out)
{
    if (reply.size() < kSplitLenFrameSize)
        return false;
    const auto *p = reinterpret_cast<const uint8_t *>(reply.constData());
    out->command = p[2];
    out->splitLen = readLe16(p + 3);
    out->uartLen = readLe16(p + 5);
    out->overDelay = readLe16(p + 7);
    out->deviceAddr = readLe32(p + 9);
    return true;
}

QByteArray encodeSplitLenRequest(const SplitLenRequest &request)
{
    QByteArray payload(10, '\0');
    auto *p = reinterpret_cast<uint8_t *>(payload.data());
    writeLe16(p, request.splitLen);
    writeLe16(p + 2, request.uartLen);
    writeLe16(p + 4, request.overDelay);
    writeLe32(p + 6, request.deviceAddr);
    return makeBootFrame(BootCmd::SplitLen, payload);
}

uint16_t readLe16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t readLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

void writeLe16(uint8_t *p, uint16_t value)
{
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

void writeLe32(uint8_t *p, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(value >> (8 * i));
}

} // namespace BootFrame
