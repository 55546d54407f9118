#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

// When to connect again after the broker link went down unasked: one second after the
// drop, then twice as long after every attempt that failed, up to half a minute. Only a
// link that stayed up a while starts over at one second, so two tools that push each
// other off the broker with one client id do not take turns every second. Nothing runs
// while no attempt is due: the timer is single-shot.
class ReconnectBackoff : public QObject
{
    Q_OBJECT
public:
    static constexpr int kFirstDelayMs = 1000;
    static constexpr int kLongestDelayMs = 30000;

    explicit ReconnectBackoff(QObject *parent = nullptr);

    void linkUp();
    // The link went down unasked or an attempt failed: the next attempt is scheduled,
    // unless attempts are held.
    void linkDown();
    // An attempt or a link ended because the broker took the connection and then said nothing:
    // the attempt itself already waited, and a hung broker may come back any moment, so the next
    // attempt follows after the first delay and the waits do not grow.
    void linkSilent();
    // A connection made or ended on request: nothing is due, and the next drop starts over.
    void reset();
    // Held, nothing is attempted; released, an attempt that fell due meanwhile is scheduled.
    void setHeld(bool held);
    bool isHeld() const { return held; }
    bool isPending() const { return timer.isActive(); }
    // The wait before the pending attempt, or before the next one.
    int delayMs() const { return nextDelayMs; }

signals:
    void due();

private:
    void onTimeout();

    QTimer timer;
    QElapsedTimer upSince;
    int nextDelayMs = kFirstDelayMs;
    bool held = false;
    // A drop asks for an attempt that has not been made yet.
    bool attemptOwed = false;
};
