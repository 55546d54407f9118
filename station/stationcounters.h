#pragma once

#include "station/stationunit.h"

#include <QElapsedTimer>
#include <QMap>
#include <QString>
#include <QVector>

// What a station run counts: units passed, failed and skipped, the yield, the pace and the
// failures by kind. Its size does not grow with the units: the median is taken over the latest
// kMedianWindow units' durations.
class StationCounters
{
public:
    static constexpr int kMedianWindow = 1001;

    // The run's clock starts now; every count starts from nothing.
    void start();
    void add(const StationUnit &unit);

    int passed() const { return passedUnits; }
    int failed() const { return failedUnits; }
    int skipped() const { return skippedUnits; }
    // Passed of passed and failed, in percent; 0 before any unit.
    double yieldPercent() const;
    // Units updated (passed or failed) per hour of the run so far.
    double unitsPerHour() const;
    // The median time of an updated unit, of the latest kMedianWindow; 0 before any.
    double medianUnitSeconds() const;
    double runSeconds() const;
    // Failures by their kind's name ("no-answer", "link-lost", ...).
    const QMap<QString, int> &failuresByKind() const { return failureKinds; }

private:
    QElapsedTimer runClock;
    int passedUnits = 0;
    int failedUnits = 0;
    int skippedUnits = 0;
    QMap<QString, int> failureKinds;
    QVector<double> recentSeconds;
    int nextRecent = 0;
};
