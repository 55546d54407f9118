#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

class BootEntryPort;
class GatewayBootPublisher;

// The kind of device on the other end; it decides how the device is asked to enter its
// bootloader.
enum class TargetKind
{
    Module,
    DemoBoard,
    Gateway
};

namespace ModuleCmd {
constexpr uint8_t ConfigMode = 0x26;
constexpr uint8_t IntoBoot = 0x53;
} // namespace ModuleCmd

// Module command frame: length (bytes after it), command, parameter, CRC-8 of the rest.
// Writes the length byte and the CRC; the caller has written command and parameter.
void encodeModuleCommand(uint8_t *buffer, uint8_t total);

QByteArray moduleCommand(uint8_t command, uint8_t parameter);
QByteArray moduleConfigModeCommand(); // 03 26 01 8E
QByteArray moduleIntoBootCommand();   // 03 53 01 6D

// The gateway's boot request written to its serial port.
QByteArray gatewaySerialBootText();
// The gateway's boot request through the broker.
QString gatewayBootTopic(const QString &gatewayId);
QByteArray gatewayBootMessage();

// Asks the device to enter its bootloader. Module commands always take the serial port;
// a gateway target takes the broker when `overGateway` is set, and then nothing is sent
// while no publisher exists. A demo board gets nothing: it sends its request by itself.
void performBootEntry(TargetKind target, BootEntryPort &serial, bool overGateway,
                      GatewayBootPublisher *publisher = nullptr);
