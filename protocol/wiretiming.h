#pragma once

#include <QtGlobal>

// How long bytes take on a serial line, in one place for the tool and the simulated device.
// A character on the line is 10 bits (start bit, 8 data bits, stop bit); the silence that
// ends a reply is counted in 8-bit characters, as the device family has always done.
namespace WireTiming {

constexpr int kBitsPerCharacter = 10;
constexpr int kSilenceCharacters = 70;
// Longest silence that still ends a reply. Below about 2400 baud, 70 character times would
// come close to the shortest reply wait.
constexpr int kMaxSilenceMs = 200;

// Time `bytes` take on the line at `baudRate`, rounded up; 0 for a rate of 0 or less.
qint64 lineNs(qint64 bytes, qint32 baudRate);
qint64 lineMs(qint64 bytes, qint32 baudRate);
// Whole characters the line carries in `ns` at `baudRate`.
qint64 charactersIn(qint64 ns, qint32 baudRate);
// 70 eight-bit characters at `baudRate`, truncated, at least 1 ms and at most kMaxSilenceMs.
int silenceMs(qint32 baudRate);

} // namespace WireTiming
