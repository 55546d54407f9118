#pragma once

#include <QByteArray>
#include <cstdint>

// A transparent radio module is put into its bootloader with two short commands of its own
// format: length (bytes after it), command, parameter, CRC-8 of the rest.
namespace ModuleCommand {

constexpr uint8_t ConfigMode = 0x26;
constexpr uint8_t IntoBoot = 0x53;

// Writes the length byte and the CRC; the caller has written command and parameter.
void encode(uint8_t *buffer, uint8_t total);

QByteArray make(uint8_t command, uint8_t parameter);
QByteArray configMode(); // 03 26 01 8E
QByteArray intoBoot();   // 03 53 01 6D

} // namespace ModuleCommand
