#include "cloud/firmwarecatalogue.h"

#include <cmath>

#include "cloud/cloudenvelope.h"

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

namespace {

// A whole number that a double holds exactly; a fraction (id 7.9 is not record 7) or a value
// beyond 2^53 is no usable number.
bool wholeNumber(const QJsonValue &value, qint64 *number)
{
    constexpr double kExactLimit = 9007199254740992.0; // 2^53
    if (!value.isDouble())
        return false;
    const double x = value.toDouble();
    if (!(x > -kExactLimit && x < kExactLimit) || x != std::floor(x))
        return false;
    *number = qint64(x);
    return true;
}

} // namespace

QString FirmwareCatalogue::numberText(const QJsonObject &record, const QString &member)
{
    qint64 number = 0;
    return wholeNumber(record.value(member), &number) ? QString::number(number) : QString();
}

QString FirmwareCatalogue::stringText(const QJsonObject &record, const QString &member)
{
    return record.value(member).toString();
}

qint64 FirmwareCatalogue::expectedLength(const QJsonObject &record)
{
    qint64 length = -1;
    return wholeNumber(record.value(QStringLiteral("length")), &length) && length >= 0 ? length : -1;
}

qint64 FirmwareCatalogue::usableLength(const QJsonObject &record, qint64 limit)
{
    const qint64 length = expectedLength(record);
    return length > 0 && length <= limit ? length : -1;
}

bool FirmwareCatalogue::findById(const QString &id, QJsonObject *record) const
{
    for (const QJsonObject &candidate : allRecords) {
        if (!id.isEmpty() && numberText(candidate, QStringLiteral("id")) == id) {
            *record = candidate;
            return true;
        }
    }
    return false;
}
