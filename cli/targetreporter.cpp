#include "targetreporter.h"

#include "fleetconsole.h"

void TargetReporter::consoleLine(const QString &text)
{
    console.line(index, text);
}

void TargetReporter::progressMaximum(int maximum)
{
    total = maximum;
    console.progress(index, 0, total);
}

void TargetReporter::progressValue(int value)
{
    console.progress(index, value, total);
}
