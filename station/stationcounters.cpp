#include "station/stationcounters.h"

#include <algorithm>

void StationCounters::start()
{
    *this = StationCounters();
    runClock.start();
}

void StationCounters::add(const StationUnit &unit)
{
    switch (unit.result) {
    case StationUnit::Result::Success:
        ++passedUnits;
        break;
    case StationUnit::Result::Skipped:
        ++skippedUnits;
        return;
    case StationUnit::Result::Failed:
        ++failedUnits;
        ++failureKinds[UpdateFailure::kindName(unit.failure.kind)];
        break;
    }
    // A ring of the latest durations: a day of units costs no more than the first thousand.
    if (recentSeconds.size() < kMedianWindow)
        recentSeconds.append(unit.seconds);
    else
        recentSeconds[nextRecent] = unit.seconds;
    nextRecent = (nextRecent + 1) % kMedianWindow;
}

double StationCounters::yieldPercent() const
{
    const int updated = passedUnits + failedUnits;
    return updated == 0 ? 0.0 : 100.0 * passedUnits / updated;
}

double StationCounters::runSeconds() const
{
    return runClock.isValid() ? runClock.elapsed() / 1000.0 : 0.0;
}

double StationCounters::unitsPerHour() const
{
    const double seconds = runSeconds();
    return seconds <= 0 ? 0.0 : (passedUnits + failedUnits) * 3600.0 / seconds;
}

double StationCounters::medianUnitSeconds() const
{
    if (recentSeconds.isEmpty())
        return 0.0;
    QVector<double> sorted = recentSeconds;
    const int middle = sorted.size() / 2;
    std::nth_element(sorted.begin(), sorted.begin() + middle, sorted.end());
    if (sorted.size() % 2 == 1)
        return sorted.at(middle);
    const double upper = sorted.at(middle);
    const double lower = *std::max_element(sorted.begin(), sorted.begin() + middle);
    return (lower + upper) / 2;
}
