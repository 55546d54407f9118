#include "consoleline.h"

#include <QTime>

namespace ConsoleLine {

QString format(const QString &time, const QString &text)
{
    return QStringLiteral("%1 - (%2-%3): %4").arg(time, QStringLiteral("set"), QString::number(65), text);
}

QString formatNow(const QString &text)
{
    return format(QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")), text);
}

} // namespace ConsoleLine
