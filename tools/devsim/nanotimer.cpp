#include "tools/devsim/nanotimer.h"

#include <QSocketNotifier>

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

constexpr qint64 kNsPerSecond = 1000000000;

} // namespace

NanoTimer::NanoTimer(QObject *parent) : QObject(parent)
{
    fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd < 0)
        qFatal("NanoTimer: timerfd_create failed");
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &NanoTimer::onExpired);
}

NanoTimer::~NanoTimer()
{
    delete notifier;
    ::close(fd);
}

void NanoTimer::start(qint64 ns)
{
    // A zero expiry would disarm the timer instead of firing it.
    arm(qMax<qint64>(1, ns));
    active = true;
}

void NanoTimer::stop()
{
    arm(0);
    active = false;
}

void NanoTimer::arm(qint64 ns)
{
    itimerspec expiry{};
    expiry.it_value.tv_sec = time_t(ns / kNsPerSecond);
    expiry.it_value.tv_nsec = long(ns % kNsPerSecond);
    timerfd_settime(fd, 0, &expiry, nullptr);
}

void NanoTimer::onExpired()
{
    uint64_t expirations = 0;
    if (::read(fd, &expirations, sizeof expirations) != sizeof expirations)
        return;
    active = false;
    emit timeout();
}
