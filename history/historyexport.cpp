#include "history/historyexport.h"

#include <QIODevice>
#include <QJsonDocument>
#include <QRegularExpression>

QString HistoryExport::csvField(const QString &text)
{
    if (!text.contains(QRegularExpression(QStringLiteral("[,\"\r\n]"))))
        return text;
    QString quoted = text;
    quoted.replace('"', QStringLiteral("\"\""));
    return '"' + quoted + '"';
}

QByteArray HistoryExport::csv(const QList<UpdateRecord> &records)
{
    QByteArray out = UpdateRecord::csvHeader().toUtf8() + "\r\n";
    for (const UpdateRecord &record : records)
        out += record.toCsvLine().toUtf8() + "\r\n";
    return out;
}

QByteArray HistoryExport::jsonLines(const QList<UpdateRecord> &records)
{
    QByteArray out;
    for (const UpdateRecord &record : records)
        out += QJsonDocument(record.toJson()).toJson(QJsonDocument::Compact) + '\n';
    return out;
}

bool HistoryExport::writeCsv(QIODevice &device, const QList<UpdateRecord> &records)
{
    const QByteArray bytes = csv(records);
    return device.write(bytes) == bytes.size();
}

bool HistoryExport::writeJsonLines(QIODevice &device, const QList<UpdateRecord> &records)
{
    const QByteArray bytes = jsonLines(records);
    return device.write(bytes) == bytes.size();
}
