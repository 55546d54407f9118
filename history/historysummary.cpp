#include "history/historysummary.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QStringList>

#include <algorithm>

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

namespace {

struct ImageTally
{
    HistorySummary::Image image;
    QSet<QString> devices;
    QList<double> seconds;
};

struct StationTally
{
    QSet<QString> units;
    QSet<QString> passed;
};

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const int middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

HistorySummary::Image finished(ImageTally &tally)
{
    HistorySummary::Image image = tally.image;
    image.devicesUpdated = tally.devices.size();
    image.successRate = image.attempts ? double(image.successes) / image.attempts : 0;
    image.medianSeconds = median(tally.seconds);
    return image;
}

} // namespace

HistorySummary HistorySummary::of(const QList<Outcome> &outcomes)
{
    QHash<QString, ImageTally> images;
    QMap<QString, StationTally> stations;
    for (const Outcome &outcome : outcomes) {
        if (outcome.result == QLatin1String("running"))
            continue;
        const bool success = outcome.result == QLatin1String("success");
        ImageTally &image = images[outcome.imageSha256];
        image.image.sha256 = outcome.imageSha256;
        if (!outcome.imageName.isEmpty())
            image.image.name = outcome.imageName;
        ++image.image.attempts;
        StationTally &station = stations[outcome.station];
        station.units.insert(outcome.unit);
        if (success) {
            ++image.image.successes;
            image.devices.insert(outcome.unit);
            image.seconds << outcome.seconds;
            station.passed.insert(outcome.unit);
        }
    }
    HistorySummary summary;
    for (ImageTally &tally : images)
        summary.images << finished(tally);
    std::sort(summary.images.begin(), summary.images.end(), [](const Image &a, const Image &b) {
        return a.devicesUpdated != b.devicesUpdated ? a.devicesUpdated > b.devicesUpdated
                                                    : a.sha256 < b.sha256;
    });
    for (auto it = stations.begin(); it != stations.end(); ++it) {
        Station station{it.key(), int(it->units.size()), int(it->passed.size()), 0};
        station.yield = station.units ? double(station.unitsPassed) / station.units : 0;
        summary.stations << station;
    }
    return summary;
}
