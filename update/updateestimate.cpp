#include "update/updateestimate.h"

#include "protocol/wiretiming.h"

#include <cmath>

namespace {

// Frame sizes: FIRMWARE LEN, a packet's header and CRC, FIRMWARE CHECK and OVER, a short reply.
constexpr qint64 kFirmwareLenFrame = 9;
constexpr qint64 kPacketOverhead = 8;
constexpr qint64 kShortFrame = 5;

} // namespace

UpdateEstimate::UpdateEstimate(qint64 imageBytes, int splitLen, int packetLen)
    : imageBytes(qMax<qint64>(0, imageBytes)), splitLen(qMax(1, splitLen)), packetLen(qMax(1, packetLen))
{
}

qint64 UpdateEstimate::paddedBytes() const
{
    return (imageBytes + splitLen - 1) / splitLen * splitLen;
}

qint64 UpdateEstimate::splits() const
{
    return paddedBytes() / splitLen;
}

qint64 UpdateEstimate::packetsPerSplit() const
{
    return splitLen / packetLen;
}

qint64 UpdateEstimate::exchanges() const
{
    return 2 + splits() * (packetsPerSplit() + 1);
}

qint64 UpdateEstimate::wireBytes() const
{
    const qint64 packets = splits() * packetsPerSplit();
    const qint64 frames =
        kFirmwareLenFrame + packets * (packetLen + kPacketOverhead) + (splits() + 1) * kShortFrame;
    return frames + exchanges() * kShortFrame;
}

qint64 UpdateEstimate::serialMs(qint32 baudRate, double turnaroundMs) const
{
    if (baudRate <= 0)
        return -1;
    return WireTiming::lineMs(wireBytes(), baudRate) + qint64(std::llround(exchanges() * turnaroundMs));
}

qint64 UpdateEstimate::gatewayMs(double roundTripMs) const
{
    if (roundTripMs <= 0)
        return -1;
    return qint64(std::llround(exchanges() * roundTripMs));
}

QString UpdateEstimate::text(qint64 ms)
{
    if (ms < 0)
        return QStringLiteral("—");
    const qint64 seconds = (ms + 999) / 1000;
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
