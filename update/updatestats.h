#pragma once

#include <QString>
#include <QtGlobal>

// What a session learnt and counted while it ran, for the record of its update. Read during the
// run or after it; a new start begins from nothing.
struct UpdateStats
{
    // The SPLIT LEN address as 8 upper-case hexadecimal digits; empty until the device announced itself.
    QString device;
    // The lengths the device announced; 0 until then.
    int splitLen = 0;
    int packetLen = 0;
    // Image bytes the device confirmed with FIRMWARE CONTINUE: the splits it checked and the packets
    // of the split under way (a rewound split counts once; the padded length after a success).
    quint64 bytesAcked = 0;
    // Packets written again: after a time-out, a refusal or a split started over.
    int repeats = 0;
    // Waits for an answer to a frame of the image that ended without one.
    int timeouts = 0;
    // Boot entries made to reach the device.
    int connectAttempts = 0;
};
