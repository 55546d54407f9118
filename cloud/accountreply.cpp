#include "accountreply.h"

#include "myjson.h"

#include <QJsonArray>

namespace AccountReply {

Verdict judge(const QByteArray *body, QJsonObject *parsed)
{
    if (!body)
        return Verdict::NoReply;
    if (!MyJson::paser(parsed, *body))
        return Verdict::NotJson;
    const QJsonValue code = parsed->value(QStringLiteral("code"));
    if (!code.isDouble())
        return Verdict::CodeNotNumber;
    return code.toInt() == 200 ? Verdict::Accepted : Verdict::Refused;
}

QList<int> roles(const QJsonObject &reply, bool anyCode)
{
    QList<int> found;
    const QJsonValue code = reply.value(QStringLiteral("code"));
    const QJsonValue message = reply.value(QStringLiteral("message"));
    if (!code.isDouble() || (!anyCode && code.toInt() != 200) || !message.isArray())
        return found;
    for (const QJsonValue &element : message.toArray()) {
        const QJsonValue role = element.toObject().value(QStringLiteral("role"));
        if (element.isObject() && role.isDouble())
            found << role.toInt();
    }
    return found;
}

} // namespace AccountReply
