#include "cloud/accountreply.h"

#include "cloud/cloudenvelope.h"
#include "cloud/myjson.h"

#include <QJsonArray>

namespace AccountReply {

Verdict judge(const HttpResult &reply, QJsonObject *parsed)
{
    if (!reply.ok)
        return Verdict::NoReply;
    if (!MyJson::paser(parsed, reply.body))
        return Verdict::NotJson;
    const QJsonValue code = parsed->value(QStringLiteral("code"));
    if (!code.isDouble())
        return Verdict::CodeNotNumber;
    return code.toInt() == 200 ? Verdict::Accepted : Verdict::Refused;
}

QList<int> roles(const QJsonObject &reply, bool anyCode)
{
    QList<int> found;
    QJsonArray message;
    if (!(anyCode ? CloudEnvelope::messageArray(reply, &message)
                  : CloudEnvelope::successMessage(reply, &message)))
        return found;
    for (const QJsonValue &element : qAsConst(message)) {
        const QJsonValue role = element.toObject().value(QStringLiteral("role"));
        if (element.isObject() && role.isDouble())
            found << role.toInt();
    }
    return found;
}

} // namespace AccountReply
