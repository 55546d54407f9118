#include "links/reconnectbackoff.h"

#include <QtGlobal>

ReconnectBackoff::ReconnectBackoff(QObject *parent) : QObject(parent)
{
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, this, &ReconnectBackoff::onTimeout);
}

void ReconnectBackoff::linkUp()
{
    timer.stop();
    attemptOwed = false;
    upSince.start();
}

void ReconnectBackoff::linkDown()
{
    if (upSince.isValid() && upSince.elapsed() >= kLongestDelayMs)
        nextDelayMs = kFirstDelayMs;
    upSince.invalidate();
    attemptOwed = true;
    if (!held)
        timer.start(nextDelayMs);
}

void ReconnectBackoff::linkSilent()
{
    nextDelayMs = kFirstDelayMs;
    linkDown();
}

void ReconnectBackoff::reset()
{
    timer.stop();
    attemptOwed = false;
    upSince.invalidate();
    nextDelayMs = kFirstDelayMs;
}

void ReconnectBackoff::setHeld(bool held)
{
    this->held = held;
    if (held)
        timer.stop();
    else if (attemptOwed && !timer.isActive())
        timer.start(nextDelayMs);
}

void ReconnectBackoff::onTimeout()
{
    attemptOwed = false;
    nextDelayMs = qMin(2 * nextDelayMs, kLongestDelayMs);
    emit due();
}
