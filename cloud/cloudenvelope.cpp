#include "cloud/cloudenvelope.h"

#include "cloud/servicetext.h"

#include <QJsonDocument>

namespace CloudEnvelope {

namespace {

bool message(const QJsonObject &reply, bool successOnly, QJsonArray *message)
{
    const QJsonValue code = reply.value(QStringLiteral("code"));
    const QJsonValue payload = reply.value(QStringLiteral("message"));
    if (!code.isDouble() || (successOnly && code.toInt() != 200) || !payload.isArray())
        return false;
    *message = payload.toArray();
    return true;
}

} // namespace

bool successMessage(const QJsonObject &reply, QJsonArray *payload)
{
    return message(reply, true, payload);
}

bool messageArray(const QJsonObject &reply, QJsonArray *payload)
{
    return message(reply, false, payload);
}

bool isEnvelope(const QByteArray &bytes, QJsonObject *reply)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject() || !document.object().contains(QStringLiteral("code")))
        return false;
    if (reply)
        *reply = document.object();
    return true;
}

QString describe(const QJsonObject &reply)
{
    return QStringLiteral("code %1, message %2")
        .arg(ServiceText::oneLine(reply.value(QStringLiteral("code")).toVariant().toString()),
             messageText(reply));
}

QString messageText(const QJsonObject &reply)
{
    return ServiceText::oneLine(reply.value(QStringLiteral("message")).toVariant().toString());
}

} // namespace CloudEnvelope
