#include "core/consoleline.h"

#include <QDateTime>

namespace ConsoleLine {

QString format(const QString &time, const QString &text)
{
    return QStringLiteral("%1 - (%2-%3): %4").arg(time, QStringLiteral("set"), QString::number(65), text);
}

QString timeNow()
{
    // The time of day by hand: QTime's locale-aware formatting and its time zone lookup
    // (a stat of the zone file per call) cost more than the rest of an update step.
    static qint64 utcOffsetMs = 0;
    static qint64 offsetValidUntil = 0;
    constexpr qint64 msPerMinute = 60000;
    constexpr qint64 msPerDay = 86400000;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Time zone changes happen on whole minutes, so the offset is looked up once a minute.
    if (now >= offsetValidUntil) {
        utcOffsetMs = qint64(QDateTime::fromMSecsSinceEpoch(now).offsetFromUtc()) * 1000;
        offsetValidUntil = now - now % msPerMinute + msPerMinute;
    }
    const qint64 ms = ((now + utcOffsetMs) % msPerDay + msPerDay) % msPerDay;
    return QString::asprintf("%02d:%02d:%02d.%03d", int(ms / 3600000), int(ms / 60000 % 60),
                             int(ms / 1000 % 60), int(ms % 1000));
}

QString formatNow(const QString &text)
{
    return format(timeNow(), text);
}

} // namespace ConsoleLine
