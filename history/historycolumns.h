#pragma once

#include "history/updaterecord.h"

#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariantList>

// The records table as SQL sees it, one column per record field (named as in JSON and CSV), the
// same on SQLite and PostgreSQL but for the types; texts that do not apply are NULL.
class HistoryColumns
{
public:
    // The quoted column names, in UpdateRecord::fieldNames() order, joined with commas.
    static QString list();
    static QStringList createStatements(bool postgres);
    // The record's values in column order, each NULL where it does not apply.
    static QVariantList values(const UpdateRecord &record);
    // The record whose columns start at `first` of the query's current row.
    static UpdateRecord record(const QSqlQuery &query, int first = 0);
    static int count();

    // Insert or update by id. `local`: the revision counts up and the outbox flag is written
    // (bind values, then writer_pid, writer_host, sent); an ended record never turns back into a
    // running one. Otherwise (delivery to the server) values and the revision are bound, and an
    // older revision never overwrites a newer one.
    static QString upsert(bool local);
};
