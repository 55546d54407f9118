#include "update/updatelink.h"

#include <climits>

UpdateLink::UpdateLink(QObject *parent) : QObject(parent)
{
    pauseTimer.setSingleShot(true);
    pauseTimer.setTimerType(Qt::PreciseTimer);
    connect(&pauseTimer, &QTimer::timeout, this, &UpdateLink::pauseDone);
}

UpdateLink::~UpdateLink() = default;

void UpdateLink::pause(qint64 ms)
{
    pauseTimer.start(int(qBound<qint64>(0, ms, INT_MAX)));
}

void UpdateLink::cancel()
{
    pauseTimer.stop();
}
