#pragma once

#include "history/updaterecord.h"

#include <QByteArray>
#include <QList>

class QIODevice;

// Records as files others read: RFC 4180 CSV with a header row (lines end in CRLF), or JSON
// lines (one record a line). Both are UTF-8.
class HistoryExport
{
public:
    static QByteArray csv(const QList<UpdateRecord> &records);
    static QByteArray jsonLines(const QList<UpdateRecord> &records);
    static bool writeCsv(QIODevice &device, const QList<UpdateRecord> &records);
    static bool writeJsonLines(QIODevice &device, const QList<UpdateRecord> &records);
    // One CSV field, quoted when it holds a comma, quote, or line end.
    static QString csvField(const QString &text);
};
