#include "cli/historycommand.h"

#include "cli/flashoptions.h"
#include "cli/terminaltext.h"
#include "history/historyexport.h"
#include "history/historylocation.h"
#include "history/historystore.h"

namespace {

constexpr int kExitStoreUnreadable = 1;

QString started(const UpdateRecord &record)
{
    return record.started.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString imageOf(const UpdateRecord &record)
{
    return record.imageName.isEmpty() ? record.imageSha256.left(12) : record.imageName;
}

QString secondsOf(const UpdateRecord &record)
{
    return record.seconds ? QString::number(*record.seconds, 'f', 1) : QString();
}

// One column's cells, padded to the widest (control characters escaped, wide characters counted).
QStringList column(const QString &title, const QStringList &cells)
{
    int width = TerminalText::width(title);
    QStringList escaped;
    for (const QString &cell : cells) {
        escaped << TerminalText::escaped(cell);
        width = qMax(width, TerminalText::width(escaped.last()));
    }
    QStringList padded{TerminalText::padded(title, width)};
    for (const QString &cell : qAsConst(escaped))
        padded << TerminalText::padded(cell, width);
    return padded;
}

QString table(const QList<UpdateRecord> &records)
{
    QStringList startedCells, targets, devices, images, results, seconds, stations, reasons;
    for (const UpdateRecord &record : records) {
        startedCells << started(record);
        targets << record.target;
        devices << record.device;
        images << imageOf(record);
        results << record.result;
        seconds << secondsOf(record);
        stations << record.station;
        reasons << record.reason;
    }
    const QList<QStringList> columns{column(QStringLiteral("STARTED (UTC)"), startedCells),
                                     column(QStringLiteral("TARGET"), targets),
                                     column(QStringLiteral("DEVICE"), devices),
                                     column(QStringLiteral("IMAGE"), images),
                                     column(QStringLiteral("RESULT"), results),
                                     column(QStringLiteral("SECONDS"), seconds),
                                     column(QStringLiteral("STATION"), stations)};
    QString text;
    for (int row = 0; row <= records.size(); ++row) {
        QStringList cells;
        for (const QStringList &cellsOfColumn : columns)
            cells << cellsOfColumn.at(row);
        cells << (row == 0 ? QStringLiteral("REASON") : TerminalText::escaped(reasons.at(row - 1)));
        text += cells.join(QStringLiteral("  ")).trimmed() + QLatin1Char('\n');
    }
    return text;
}

int fail(const QString &message)
{
    fprintf(stderr, "plovikkit-flash: %s\n", message.toLocal8Bit().constData());
    return kExitStoreUnreadable;
}

} // namespace

int HistoryCommand::run(const FlashOptions &options, FILE *out)
{
    const HistoryLocation location = HistoryLocation::fromEnvironment(options.historyUrl);
    HistoryStore store;
    QString problem;
    if (!store.open(location, &problem))
        return fail(
            QStringLiteral("cannot read the update record %1: %2").arg(location.displayName(), problem));
    QByteArray text;
    if (options.summary) {
        text = store.summary(options.historyQuery).toText().toUtf8();
    } else {
        const QList<UpdateRecord> records = store.find(options.historyQuery);
        if (options.json)
            text = HistoryExport::jsonLines(records);
        else if (options.csv)
            text = HistoryExport::csv(records);
        else
            text = table(records).toUtf8();
    }
    if (!store.lastError().isEmpty())
        return fail(QStringLiteral("cannot read the update record %1: %2")
                        .arg(location.displayName(), store.lastError()));
    fwrite(text.constData(), 1, size_t(text.size()), out);
    return fflush(out) == 0 ? 0 : fail(QStringLiteral("cannot write to standard output"));
}
