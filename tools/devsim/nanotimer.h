#pragma once

#include <QObject>

class QSocketNotifier;

// A single-shot timer with nanosecond resolution (a timerfd watched by the event loop).
// QTimer counts whole milliseconds: at 921600 baud that is 90 character times, far too
// coarse to pace a simulated line.
class NanoTimer : public QObject
{
    Q_OBJECT
public:
    explicit NanoTimer(QObject *parent = nullptr);
    ~NanoTimer() override;

    // Fires once after `ns` nanoseconds; 0 or less fires on the next round of the event loop.
    void start(qint64 ns);
    void stop();
    bool isActive() const { return active; }

signals:
    void timeout();

private:
    void arm(qint64 ns);
    void onExpired();

    int fd = -1;
    QSocketNotifier *notifier = nullptr;
    bool active = false;
};
