#include "gatewaymessages.h"

#include "jsontext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace GatewayMessages {

QString bytesToHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

QByteArray hexToBytes(QString text)
{
    text.remove(QLatin1Char(' '));
    if (text.size() % 2 != 0)
        text.insert(text.size() - 1, QLatin1Char('0'));
    QByteArray bytes;
    bytes.reserve(text.size() / 2);
    for (int i = 0; i < text.size(); i += 2) {
        bool ok = false;
        const uint value = text.midRef(i, 2).toUInt(&ok, 16);
        bytes.append(char(ok ? value : 0));
    }
    return bytes;
}

QStringList subscribeTopicTemplates()
{
    return {QStringLiteral("thing/sv/login"),         QStringLiteral("thing/sv/ping"),
            QStringLiteral("thing/sv/ack"),           QStringLiteral("thing/sv/property/push"),
            QStringLiteral("thing/sv/firmware/push"), QStringLiteral("thing/sv/config/push")};
}

QString gatewayTopic(const QString &topicTemplate, const QString &gatewayId)
{
    QString topic = topicTemplate;
    return topic.insert(5, QLatin1Char('/') + gatewayId);
}

QStringList subscriptionTopics(const QString &gatewayId)
{
    QStringList topics;
    for (const QString &topicTemplate : subscribeTopicTemplates())
        topics << gatewayTopic(topicTemplate, gatewayId);
    return topics;
}

QString firmwarePushTopic(const QString &gatewayId)
{
    return QStringLiteral("thing/%1/gw/firmware/push").arg(gatewayId);
}

QByteArray firmwarePushMessage(const QString &gatewayId, const QByteArray &frame)
{
    return QStringLiteral(
               R"({"method":"thing/%1/gw/firmware/push","sys":{"src":"sv","ack":0},"params":[{"packet":"%2"}]})")
        .arg(JsonText::escaped(gatewayId), bytesToHex(frame))
        .toUtf8();
}

QString gatewayIdProblem(const QString &gatewayId)
{
    for (const QChar wildcard : {QLatin1Char('+'), QLatin1Char('#')}) {
        if (gatewayId.contains(wildcard))
            return QStringLiteral(
                       "gateway id \"%1\" contains \"%2\", a wildcard that cannot stand in an MQTT topic")
                .arg(gatewayId, wildcard);
    }
    return QString();
}

Packet readPacket(const QByteArray &message)
{
    Packet packet;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(message, &error);
    packet.isJson = error.error == QJsonParseError::NoError;
    const QJsonValue params = document.object().value(QStringLiteral("params"));
    for (const QJsonValue element : params.toArray()) {
        const QJsonValue text = element.toObject().value(QStringLiteral("packet"));
        if (text.isString()) {
            packet.found = true;
            packet.text = text.toString();
            packet.frame = hexToBytes(packet.text);
            break;
        }
    }
    return packet;
}

} // namespace GatewayMessages
