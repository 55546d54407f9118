#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// The firmware records of the last catalogue reply and the ones the filter keeps. A record is
// an object with "id" (number), "originFileName", "infor", "createTime", "owner" (texts) and
// "length" (number); any of them may be missing.
class FirmwareCatalogue
{
public:
    // Empties the full list; the shown list stays until a reply replaces it.
    void clearAll() { allRecords.clear(); }
    // Takes every record of a success reply into both lists. Returns false, changing nothing,
    // when the reply is not a success.
    bool takeReply(const QJsonObject &reply);
    // Makes the shown list the records whose description or name contains `text`, ignoring case.
    void filter(const QString &text);

    const QList<QJsonObject> &all() const { return allRecords; }
    const QList<QJsonObject> &shown() const { return shownRecords; }

    static bool matches(const QJsonObject &record, const QString &text);
    // A member that is a number as decimal text ("id", "length"); empty for any other type.
    static QString numberText(const QJsonObject &record, const QString &member);
    // A member that is a string; empty for any other type.
    static QString stringText(const QJsonObject &record, const QString &member);
    // The record's "length" when it gives one as a number, else -1.
    static qint64 expectedLength(const QJsonObject &record);
    // The record's "length" when it is a whole number from 1 to `limit`, else -1: only with such a
    // length can a download be known to be complete.
    static qint64 usableLength(const QJsonObject &record, qint64 limit);
    // The record of the full list whose "id" reads as `id`; false when there is none.
    bool findById(const QString &id, QJsonObject *record) const;

private:
    QList<QJsonObject> allRecords;
    QList<QJsonObject> shownRecords;
};
