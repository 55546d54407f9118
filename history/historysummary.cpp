#include "history/historysummary.h"

#include <QStringList>

namespace {

QString percent(double share)
{
    return QString::number(share * 100, 'f', 1) + '%';
}

// Columns padded to their widest cell; the last one is not padded.
QString table(const QList<QStringList> &rows)
{
    QList<int> widths;
    for (const QStringList &row : rows)
        for (int i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths << 0;
            widths[i] = qMax(widths[i], row[i].size());
        }
    QString text;
    for (const QStringList &row : rows) {
        QStringList cells;
        for (int i = 0; i < row.size(); ++i)
            cells << (i + 1 < row.size() ? row[i].leftJustified(widths[i]) : row[i]);
        text += cells.join(QStringLiteral("  ")) + '\n';
    }
    return text;
}

} // namespace

QString HistorySummary::toText() const
{
    QList<QStringList> imageRows = {{"image", "sha256", "devices", "attempts", "success", "median s"}};
    for (const Image &image : images)
        imageRows << QStringList{image.name.isEmpty() ? QStringLiteral("-") : image.name,
                                 image.sha256.left(16),
                                 QString::number(image.devicesUpdated),
                                 QString::number(image.attempts),
                                 percent(image.successRate),
                                 QString::number(image.medianSeconds, 'f', 1)};
    QList<QStringList> stationRows = {{"station", "units", "passed", "yield"}};
    for (const Station &station : stations)
        stationRows << QStringList{station.station.isEmpty() ? QStringLiteral("-") : station.station,
                                   QString::number(station.units), QString::number(station.unitsPassed),
                                   percent(station.yield)};
    return table(imageRows) + '\n' + table(stationRows);
}
