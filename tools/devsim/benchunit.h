#pragma once

#include <QList>
#include <QString>
#include <cstdint>

// What a bench saw of one device, kept after the device has left. Times are ms since the
// bench started, -1 for what has not happened.
struct BenchUnit
{
    enum class Result
    {
        None,
        Updating,
        Success,
        Failed
    };

    int port = 0;
    uint32_t address = 0;
    qint64 arrivedMs = -1;
    qint64 firstFrameMs = -1;
    qint64 firstUpdateMs = -1;
    qint64 leftMs = -1;
    // Updates begun; a station must never begin a second one on the same device.
    int updates = 0;
    Result result = Result::None;

    bool updatedMoreThanOnce() const { return updates > 1; }
    QString summaryLine() const;
    static QString totalsLine(const QList<BenchUnit> &units);
};
