#include "firmwarecatalogue.h"

#include "cloudenvelope.h"

#include <QJsonArray>

bool FirmwareCatalogue::takeReply(const QJsonObject &reply)
{
    QJsonArray message;
    if (!CloudEnvelope::successMessage(reply, &message))
        return false;
    allRecords.clear();
    for (const QJsonValue &element : message)
        allRecords << element.toObject();
    shownRecords = allRecords;
    return true;
}

void FirmwareCatalogue::filter(const QString &text)
{
    shownRecords.clear();
    for (const QJsonObject &record : allRecords) {
        if (matches(record, text))
            shownRecords << record;
    }
}

bool FirmwareCatalogue::matches(const QJsonObject &record, const QString &text)
{
    const QJsonValue infor = record.value(QStringLiteral("infor"));
    const QJsonValue name = record.value(QStringLiteral("originFileName"));
    if (!infor.isString() && !name.isString())
        return false;
    return infor.toString().contains(text, Qt::CaseInsensitive) ||
           name.toString().contains(text, Qt::CaseInsensitive);
}

QString FirmwareCatalogue::numberText(const QJsonObject &record, const QString &member)
{
    const QJsonValue value = record.value(member);
    return value.isDouble() ? QString::number(qint64(value.toDouble())) : QString();
}

QString FirmwareCatalogue::stringText(const QJsonObject &record, const QString &member)
{
    return record.value(member).toString();
}

qint64 FirmwareCatalogue::expectedLength(const QJsonObject &record)
{
    const QJsonValue length = record.value(QStringLiteral("length"));
    return length.isDouble() ? qint64(length.toDouble()) : -1;
}
