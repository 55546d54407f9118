#pragma once

#include "protocol/targetkind.h"
#include "update/updatesession.h"

#include <QStringList>
#include <QtGlobal>

// How a station runs: its slots, the devices it expects and how it looks for them.
struct StationOptions
{
    static constexpr int kDefaultProbeIntervalMs = 1000;
    static constexpr int kDefaultGoneAfter = 3;

    // The slots' ports as given (a name, a device path or serial:SN); empty: every serial port
    // that appears while the station runs becomes a slot until it disappears.
    QStringList ports;
    TargetKind target = TargetKind::Module;
    qint32 baudRate = 115200;
    // While a slot is empty (or its device is to leave), the boot entry goes out this often.
    int probeIntervalMs = kDefaultProbeIntervalMs;
    // A device is gone after this many probes in a row went unanswered.
    int goneAfter = kDefaultGoneAfter;
    // The station ends after this many passed units; 0: it runs until stopped.
    int count = 0;
    int connectAttempts = UpdateSession::kConnectAttempts;
};
