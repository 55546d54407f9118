#include "tools/devsim/benchunit.h"

namespace {

QString seconds(qint64 ms)
{
    return ms < 0 ? QStringLiteral("-1") : QString::number(double(ms) / 1000.0, 'f', 3);
}

QString resultName(BenchUnit::Result result)
{
    switch (result) {
    case BenchUnit::Result::Updating:
        return QStringLiteral("updating");
    case BenchUnit::Result::Success:
        return QStringLiteral("success");
    case BenchUnit::Result::Failed:
        return QStringLiteral("failed");
    case BenchUnit::Result::None:
        break;
    }
    return QStringLiteral("none");
}

} // namespace

QString BenchUnit::summaryLine() const
{
    const qint64 toFirstFrame = firstFrameMs < 0 ? -1 : firstFrameMs - arrivedMs;
    return QStringLiteral("unit: port=%1 device=%2 result=%3 seconds=%4 arrived=%5 to-first-frame=%6 left=%7 "
                          "updates=%8 more-than-once=%9")
        .arg(port)
        .arg(QStringLiteral("%1").arg(address, 8, 16, QLatin1Char('0')).toUpper())
        .arg(resultName(result), seconds(firstUpdateMs), seconds(arrivedMs), seconds(toFirstFrame),
             seconds(leftMs))
        .arg(updates)
        .arg(updatedMoreThanOnce() ? QStringLiteral("yes") : QStringLiteral("no"));
}

QString BenchUnit::totalsLine(const QList<BenchUnit> &units)
{
    int succeeded = 0;
    int failed = 0;
    int moreThanOnce = 0;
    for (const BenchUnit &unit : units) {
        succeeded += unit.result == Result::Success ? 1 : 0;
        failed += unit.result == Result::Failed ? 1 : 0;
        moreThanOnce += unit.updatedMoreThanOnce() ? 1 : 0;
    }
    return QStringLiteral("summary: devices=%1 succeeded=%2 failed=%3 more-than-once=%4")
        .arg(units.size())
        .arg(succeeded)
        .arg(failed)
        .arg(moreThanOnce);
}
