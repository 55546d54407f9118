#pragma once

#include <QEventLoop>
#include <QtGlobal>
#include <functional>

// Waits on the calling thread while its events keep being delivered. The thread sleeps
// in the event dispatcher until an event or the deadline arrives, so a long wait costs
// next to no CPU, yet timers, queued calls and socket notifiers run during it.
namespace EventWait {

// Returns after at least `ms` milliseconds, or earlier once `stop()` holds; 0 or less
// returns at once. Takes any unsigned 32-bit delay the device may ask for.
void delayMs(qint64 ms, const std::function<bool()> &stop = {});

// Returns true as soon as `done()` holds, false when `timeoutMs` has passed first (0 or less:
// at once; any length, however long).
// `done` is checked after every batch of events, so whoever makes it true must also
// post an event to this thread (a queued call, a signal across threads, a socket event).
// `flags` can hold back user input while waiting (QEventLoop::ExcludeUserInputEvents).
bool waitUntil(const std::function<bool()> &done, qint64 timeoutMs,
               QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);

} // namespace EventWait
