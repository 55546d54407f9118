#include "debugtrace.h"

#include <QFileInfo>
#include <QTime>

namespace DebugTrace {

const QLoggingCategory &category()
{
    return *QLoggingCategory::defaultCategory();
}

QString mainTag(const char *function, int line)
{
    return QStringLiteral("main-") + QString::fromLatin1(function) + QLatin1Char('[') +
           QString::number(line) + QLatin1Char(']');
}

QString moduleTag(const char *sourceFile, int line, const char *function)
{
    return QStringLiteral("%1 - [Info ] (%2-%3 %4): ")
        .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss")),
             QFileInfo(QString::fromLocal8Bit(sourceFile)).fileName(), QString::number(line),
             QString::fromLatin1(function));
}

} // namespace DebugTrace
