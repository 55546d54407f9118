#include "links/roundtripestimate.h"

#include <QtGlobal>
#include <cmath>

void RoundTripEstimate::addSample(double roundTripMs)
{
    if (!hasSamples()) {
        smoothed = roundTripMs;
        deviation = roundTripMs / 2;
    } else {
        deviation = 0.75 * deviation + 0.25 * std::fabs(smoothed - roundTripMs);
        smoothed = 0.875 * smoothed + 0.125 * roundTripMs;
    }
    // A measured answer shows the link carries again: the doubled waits are over.
    doublings = 0;
}

void RoundTripEstimate::backOff()
{
    doublings = qMin(doublings + 1, kMaxDoublings);
}

int RoundTripEstimate::waitMs(int fixedMs) const
{
    double wait = fixedMs;
    if (hasSamples())
        wait = qMax(wait, std::ceil(smoothed + qMax(kMinMarginMs, 4 * deviation)));
    wait *= double(1 << doublings);
    return int(qMin(wait, double(qMax(kMaxWaitMs, fixedMs))));
}
