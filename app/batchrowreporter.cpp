#include "batchrowreporter.h"

BatchRowReporter::BatchRowReporter(const QString &gatewayId, std::function<void(const QString &)> console,
                                   ProgressListener progress)
    : prefix(QLatin1Char('[') + gatewayId + QStringLiteral("] ")), console(std::move(console)),
      progress(std::move(progress))
{
}

void BatchRowReporter::consoleLine(const QString &text)
{
    console(prefix + text);
}

void BatchRowReporter::progressMaximum(int maximum)
{
    total = maximum;
    progress(0, total);
}

void BatchRowReporter::progressValue(int value)
{
    progress(value, total);
}
