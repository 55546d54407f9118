#pragma once

#include "tools/devsim/devicetransport.h"

#include <QStringList>
#include <QTimer>

class MqttClient;

// The device behind one radio gateway on an MQTT broker. The gateway takes the frames the
// tool pushes to "thing/<id>/gw/firmware/push" and the boot request on
// "thing/<id>/gw/config/set", and publishes every answer frame on
// "thing/<id>/sv/firmware/push". It can also chatter: unrelated login, ping and property
// messages on its other answer topics, now and then or right before each answer. The
// broker connection is shared with other gateways and belongs to a GatewayConnection.
class GatewayTransport : public DeviceTransport
{
    Q_OBJECT
public:
    GatewayTransport(const QString &gatewayId, MqttClient *client, QObject *parent = nullptr);

    QString gatewayId() const { return ownGatewayId; }
    // The two topics the gateway listens on.
    QStringList listenTopics() const;
    // Every `intervalMs` (0: never), and also right before each answer when `beforeReplies`.
    void setChatter(int intervalMs, bool beforeReplies);

    void write(const QByteArray &bytes) override;
    // A message on one of listenTopics().
    void takeMessage(const QByteArray &message, const QString &topic);

private:
    void publishChatter();
    QString topic(const QString &direction, const QString &name) const;

    QString ownGatewayId;
    MqttClient *mqttClient;
    QString answerTopic;
    QByteArray answerHead;
    QByteArray answerTail;
    QTimer chatterTimer;
    bool chatterBeforeReplies = false;
    int chatterCount = 0;
};
