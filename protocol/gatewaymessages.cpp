#include "protocol/gatewaymessages.h"

#include "core/jsontext.h"
#include "protocol/bootframe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace GatewayMessages {

QString bytesToHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

namespace {

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Two hexadecimal digits and nothing else ("+1" or "\t1" are no byte); -1 otherwise.
int hexPair(QChar high, QChar low)
{
    const int h = hexDigit(high);
    const int l = hexDigit(low);
    return h < 0 || l < 0 ? -1 : h * 16 + l;
}

bool isStrictHex(const QString &text)
{
    if (text.isEmpty() || text.size() % 2 != 0)
        return false;
    for (int i = 0; i < text.size(); i += 2) {
        if (hexPair(text.at(i), text.at(i + 1)) < 0)
            return false;
    }
    return true;
}

} // namespace

QByteArray hexToBytes(QString text)
{
    text.remove(QLatin1Char(' '));
    if (text.size() % 2 != 0)
        text.insert(text.size() - 1, QLatin1Char('0'));
    QByteArray bytes;
    bytes.reserve(text.size() / 2);
    for (int i = 0; i < text.size(); i += 2)
        bytes.append(char(qMax(0, hexPair(text.at(i), text.at(i + 1)))));
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

// The answer topics end in a fixed tail ("/sv/login" ...), so an id is read off unambiguously even
// when it holds a slash. Every message a tool receives passes here: the tails are made once.
QString gatewayOfAnswerTopic(const QString &topic)
{
    static const QString head = QStringLiteral("thing/");
    static const QStringList tails = [] {
        QStringList list;
        for (const QString &topicTemplate : subscribeTopicTemplates())
            list << topicTemplate.mid(head.size() - 1);
        return list;
    }();
    if (!topic.startsWith(head))
        return QString();
    for (const QString &tail : tails) {
        if (topic.size() > head.size() + tail.size() && topic.endsWith(tail))
            return topic.mid(head.size(), topic.size() - head.size() - tail.size());
    }
    return QString();
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

QString bootTopic(const QString &gatewayId)
{
    return QStringLiteral("thing/%1/gw/config/set").arg(gatewayId);
}

QByteArray bootMessage()
{
    return QByteArrayLiteral(
        R"({"method":"thing/gw/config/set","sys":{"src":"sv","ack":1},"params":[{"boot":1}]})");
}

QByteArray serialBootText()
{
    return QByteArrayLiteral(
        R"({"method":"thing/gw/config/set","sys":{"ack":1,"src":"ext"},"params":[{"boot":1}]})");
}

QString gatewayIdProblem(const QString &gatewayId)
{
    if (gatewayId.isEmpty())
        return QStringLiteral("no gateway id given");
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
            packet.text = text.toString();
            packet.frame = hexToBytes(packet.text);
            packet.found = isStrictHex(QString(packet.text).remove(QLatin1Char(' '))) &&
                           BootFrame::checkBootFrame(packet.frame);
            break;
        }
    }
    return packet;
}

} // namespace GatewayMessages
