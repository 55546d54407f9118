#include "core/debugtrace.h"

#include <QFileInfo>
#include <QTime>

Q_LOGGING_CATEGORY(lcUpdate, "plovik.update")
Q_LOGGING_CATEGORY(lcSerial, "plovik.serial")
Q_LOGGING_CATEGORY(lcMqtt, "plovik.mqtt")
Q_LOGGING_CATEGORY(lcCloud, "plovik.cloud")
Q_LOGGING_CATEGORY(lcStorage, "plovik.storage")
Q_LOGGING_CATEGORY(lcApp, "plovik.app")

namespace DebugTrace {

void useMessageOnlyPattern()
{
    qSetMessagePattern(QStringLiteral("%{message}"));
}

void setTraceOn(bool on)
{
    QLoggingCategory::setFilterRules(on ? QStringLiteral("plovik.*.debug=true")
                                        : QStringLiteral("plovik.*.debug=false"));
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
