#pragma once

#include <QDateTime>
#include <QString>

// Which records to read, newest first. Empty members do not filter.
struct HistoryQuery
{
    QString target;
    QString device;
    QString imageSha256;
    QString result;
    QString run;
    QDateTime since; // UTC, inclusive
    QDateTime until; // UTC, inclusive
    int limit = 0;   // 0: all
};
