#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// Bootloader frame: 16-bit little-endian length (bytes after the length field, CRC
// included), command byte, payload, CRC-8 over everything before the CRC.
namespace BootCmd {
constexpr uint8_t Null = 0x00;
constexpr uint8_t SplitLen = 0x01;
constexpr uint8_t FirmwareLen = 0x02;
constexpr uint8_t RequestFirmware = 0x03;
constexpr uint8_t FirmwarePacket = 0x04;
constexpr uint8_t FirmwareCheck = 0x05;
constexpr uint8_t FirmwareContinue = 0x06;
constexpr uint8_t FirmwareOver = 0x07;
constexpr uint8_t ReturnSuccess = 0xFA;
constexpr uint8_t ReturnFail = 0xFB;
} // namespace BootCmd

namespace BootReturn {
constexpr uint8_t Success = 0;
constexpr uint8_t ProtocolTimeOut = 1;
constexpr uint8_t CrcCheckError = 2;
constexpr uint8_t CmdError = 3;
constexpr uint8_t SplitLenError = 4;
constexpr uint8_t FirmwareLenError = 5;
// RETURN FAIL byte that makes the session rewind the current split.
constexpr uint8_t RewindSplit = 0x85;
} // namespace BootReturn

namespace BootFrame {

constexpr int kSplitLenFrameSize = 14;

// FIRMWARE LEN carries 32 bits, but an image is held and padded in memory, where it must stay
// below 2 GiB with room for up to 64 KiB of padding.
constexpr qint64 kMaxImageBytes = 0x7FFF0000;

uint8_t crc8(const uint8_t *data, uint16_t length);
uint8_t crc8(const QByteArray &data);

// Fills the length field and the CRC; the caller has written command and payload.
void encodeBootFrame(uint8_t *buffer, uint16_t total);
bool checkBootFrame(const uint8_t *buffer, uint16_t total);
bool checkBootFrame(const QByteArray &frame);

// Builds a whole frame from command and payload.
QByteArray makeBootFrame(uint8_t command, const QByteArray &payload);

// The commands a device sends: SPLIT LEN, REQUEST FIRMWARE, FIRMWARE CONTINUE and the returns.
bool isReplyCommand(uint8_t command);

// Names printed for codes; codes outside the tables get a placeholder naming the value.
QString bootCommandName(uint8_t command);
QString bootReturnName(uint8_t returnByte);

// Byte `index` of a reply, or -1 when the reply is shorter: replies are never read past their end.
int replyByte(const QByteArray &reply, int index);

// The device's parameters, from a SPLIT LEN request.
struct SplitLenRequest
{
    uint8_t command = 0;
    uint16_t splitLen = 0;
    uint16_t uartLen = 0;
    uint16_t overDelay = 0;
    uint32_t deviceAddr = 0;
};

// False when the reply is too short to hold the fields (length and CRC are not checked).
bool parseSplitLenRequest(const QByteArray &reply, SplitLenRequest *out);
QByteArray encodeSplitLenRequest(const SplitLenRequest &request);

uint16_t readLe16(const uint8_t *p);
uint32_t readLe32(const uint8_t *p);
void writeLe16(uint8_t *p, uint16_t value);
void writeLe32(uint8_t *p, uint32_t value);

} // namespace BootFrame
