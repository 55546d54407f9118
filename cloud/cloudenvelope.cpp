#include "cloudenvelope.h"

#include <QJsonDocument>

namespace CloudEnvelope {

bool successMessage(const QJsonObject &reply, QJsonArray *message)
{
    const QJsonValue code = reply.value(QStringLiteral("code"));
    const QJsonValue payload = reply.value(QStringLiteral("message"));
    if (!code.isDouble() || code.toInt() != 200 || !payload.isArray())
        return false;
    *message = payload.toArray();
    return true;
}

bool isEnvelope(const QByteArray &bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    return document.isObject() && document.object().contains(QStringLiteral("code"));
}

} // namespace CloudEnvelope
