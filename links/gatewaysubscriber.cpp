#include "links/gatewaysubscriber.h"

#include "mqtt/mqttclient.h"
#include "protocol/gatewaymessages.h"

GatewaySubscriber::GatewaySubscriber(MqttClient &client, QObject *parent) : QObject(parent), client(client)
{
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, this, [this] {
        refuseRest(QStringLiteral("the broker did not confirm the subscriptions within %1 s")
                       .arg(kConfirmMs / 1000));
    });
    connect(&client, &MqttClient::subscribed, this, &GatewaySubscriber::onSubscribed);
    connect(&client, &MqttClient::disconnected, this, [this] {
        refuseRest(this->client.errorString().isEmpty() ? QStringLiteral("the MQTT broker went away")
                                                        : this->client.errorString());
    });
}

void GatewaySubscriber::subscribe(const QStringList &gatewayIds)
{
    for (const QString &gatewayId : gatewayIds) {
        for (const QString &topic : GatewayMessages::subscriptionTopics(gatewayId))
            gatewayOfTopic.insert(topic, gatewayId);
    }
    const QStringList topics = gatewayOfTopic.keys();
    for (const QString &topic : topics) {
        if (!client.subscribe(topic))
            onSubscribed(topic, false);
    }
    if (gatewayOfTopic.isEmpty())
        QMetaObject::invokeMethod(this, &GatewaySubscriber::finish, Qt::QueuedConnection);
    else
        deadline.start(kConfirmMs);
}

void GatewaySubscriber::onSubscribed(const QString &topic, bool granted)
{
    const QString gatewayId = gatewayOfTopic.take(topic);
    if (gatewayId.isEmpty())
        return;
    if (!granted && !refused.contains(gatewayId))
        refused.insert(gatewayId, QStringLiteral("the broker refused the subscription to %1").arg(topic));
    if (gatewayOfTopic.isEmpty())
        finish();
}

void GatewaySubscriber::refuseRest(const QString &reason)
{
    for (const QString &gatewayId : qAsConst(gatewayOfTopic)) {
        if (!refused.contains(gatewayId))
            refused.insert(gatewayId, reason);
    }
    gatewayOfTopic.clear();
    finish();
}

void GatewaySubscriber::finish()
{
    if (finished)
        return;
    finished = true;
    deadline.stop();
    emit done();
}
