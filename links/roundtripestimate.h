#pragma once

// How long to wait for a gateway's answer, learnt from the round trips measured, the way TCP
// sets its retransmission time-out: a smoothed round trip plus four times its mean deviation.
// A radio hop, a busy broker or a slow gateway can take longer than the exchange's fixed wait,
// and a wait that ends before its answer comes makes that answer late for the next frame.
//
// Only an answer to a frame sent once is measured (Karn's rule): after a repeat nobody knows
// which send it answers. Each time-out doubles the wait until a new measurement comes.
class RoundTripEstimate
{
public:
    // No wait grows beyond this, however often it was doubled (unless its fixed wait is longer).
    static constexpr int kMaxWaitMs = 60000;
    static constexpr int kMaxDoublings = 4;
    // The margin above the smoothed round trip is never smaller than this: on a steady link the
    // deviation shrinks towards nothing and one answer a little late would be a time-out. Linux's
    // TCP keeps the same floor.
    static constexpr double kMinMarginMs = 200.0;

    void addSample(double roundTripMs);
    void backOff();
    void resetBackOff() { doublings = 0; }

    bool hasSamples() const { return smoothed >= 0; }
    // The wait for an exchange whose fixed wait is `fixedMs`: never shorter than that, long
    // enough for the round trips seen, doubled after time-outs, bounded.
    int waitMs(int fixedMs) const;

private:
    double smoothed = -1;
    double deviation = 0;
    int doublings = 0;
};
