#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The topics and messages shared with the radio gateways. A gateway G listens on
// "thing/G/gw/..." and answers on "thing/G/sv/..."; a bootloader frame travels as
// upper-case hexadecimal text in the "packet" member of a message's "params" array.
namespace GatewayMessages {

// Upper case, two digits a byte, no separators.
QString bytesToHex(const QByteArray &bytes);
// Blanks are ignored, either case is read, an odd last digit stands alone ("ABC" gives
// AB 0C) and a pair that is not two hexadecimal digits gives 0.
QByteArray hexToBytes(QString text);

// The six answer topics of a gateway, in the order they are subscribed, with the gateway
// level left out: "thing/sv/login" and so on.
QStringList subscribeTopicTemplates();
// "thing/sv/login" for gateway G becomes "thing/G/sv/login".
QString gatewayTopic(const QString &topicTemplate, const QString &gatewayId);
QStringList subscriptionTopics(const QString &gatewayId);
// The gateway whose answer topic this is ("thing/G/sv/ack" gives G); empty for any other topic.
QString gatewayOfAnswerTopic(const QString &topic);

QString firmwarePushTopic(const QString &gatewayId);
// One bootloader frame for the gateway to relay.
QByteArray firmwarePushMessage(const QString &gatewayId, const QByteArray &frame);

// The gateway's boot request through the broker.
QString bootTopic(const QString &gatewayId);
QByteArray bootMessage();
// The same request written to the gateway's own serial port.
QByteArray serialBootText();

// Why the gateway id cannot make a topic, in one line; empty when it can.
QString gatewayIdProblem(const QString &gatewayId);

struct Packet
{
    bool isJson = false;
    // The text is hexadecimal (blanks aside, an even count of digits) and holds a whole
    // bootloader frame: only then is it an answer.
    bool found = false;
    QString text;     // the "packet" member as it came
    QByteArray frame; // its bytes
};
// The first "packet" text among the elements of the message's "params" array.
Packet readPacket(const QByteArray &message);

} // namespace GatewayMessages
