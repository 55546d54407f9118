#include "protocol/wiretiming.h"

namespace WireTiming {

namespace {

constexpr qint64 kNsPerSecond = 1000000000;

} // namespace

qint64 lineNs(qint64 bytes, qint32 baudRate)
{
    if (baudRate <= 0 || bytes <= 0)
        return 0;
    const qint64 bits = bytes * kBitsPerCharacter;
    // Split so that a long image at a low rate cannot overflow.
    return bits / baudRate * kNsPerSecond + (bits % baudRate * kNsPerSecond + baudRate - 1) / baudRate;
}

qint64 lineMs(qint64 bytes, qint32 baudRate)
{
    constexpr qint64 nsPerMs = 1000000;
    return (lineNs(bytes, baudRate) + nsPerMs - 1) / nsPerMs;
}

qint64 charactersIn(qint64 ns, qint32 baudRate)
{
    if (baudRate <= 0 || ns <= 0)
        return 0;
    return ns * baudRate / (kNsPerSecond * kBitsPerCharacter);
}

int silenceMs(qint32 baudRate)
{
    if (baudRate <= 0)
        return 1;
    const int ms = int(1000.0 / baudRate * 8 * kSilenceCharacters);
    return qBound(1, ms, kMaxSilenceMs);
}

} // namespace WireTiming
