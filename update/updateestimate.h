#pragma once

#include <QString>
#include <QtGlobal>

// How long an update will take, before it runs and while it runs. The exchange is strictly
// stop-and-wait, so the time is the number of exchanges times what one costs: over a serial
// line every frame and reply at the line's rate plus the turnaround of both ends; through a
// gateway the round trip of one message pair.
class UpdateEstimate
{
public:
    // What most devices announce; used until the device has said otherwise.
    static constexpr int kUsualSplitLen = 1024;
    static constexpr int kUsualPacketLen = 128;
    // Turnaround of tool and device per exchange on a serial line, as measured by the bench.
    static constexpr double kSerialTurnaroundMs = 0.5;

    UpdateEstimate(qint64 imageBytes, int splitLen = kUsualSplitLen, int packetLen = kUsualPacketLen);

    // FIRMWARE LEN, every packet, every check and FIRMWARE OVER.
    qint64 exchanges() const;
    // Frames and replies of the whole update on the line.
    qint64 wireBytes() const;
    // The whole update over a serial line at `baudRate`.
    qint64 serialMs(qint32 baudRate, double turnaroundMs = kSerialTurnaroundMs) const;
    // The whole update through a gateway whose message pairs take `roundTripMs`.
    qint64 gatewayMs(double roundTripMs) const;

    // "45 s", "3 min 07 s"; "—" for a time that is not known (negative).
    static QString text(qint64 ms);

private:
    qint64 paddedBytes() const;
    qint64 splits() const;
    qint64 packetsPerSplit() const;

    qint64 imageBytes;
    int splitLen;
    int packetLen;
};
