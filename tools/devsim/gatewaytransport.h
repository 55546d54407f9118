#pragma once

#include "devicetransport.h"
#include "mqttclient.h"

#include <QTimer>

// The device behind a radio gateway on an MQTT broker. The gateway takes the frames the
// tool pushes to "thing/<id>/gw/firmware/push" and the boot request on
// "thing/<id>/gw/config/set", and publishes every answer frame on
// "thing/<id>/sv/firmware/push". It can also chatter: unrelated login, ping and property
// messages on its other answer topics, now and then or right before each answer.
class GatewayTransport : public DeviceTransport
{
    Q_OBJECT
public:
    explicit GatewayTransport(const QString &gatewayId, QObject *parent = nullptr);

    // Connects and subscribes; ready() follows once the broker has confirmed both topics.
    void start(const QString &host, quint16 port);
    // Every `intervalMs` (0: never), and also right before each answer when `beforeReplies`.
    void setChatter(int intervalMs, bool beforeReplies);

    void write(const QByteArray &bytes) override;

signals:
    void ready();
    void bootRequested();
    // The broker could not be reached or went away.
    void failed(const QString &reason);
    void logLine(const QString &line);

private:
    void subscribeTopics();
    void onSubscribed(const QString &topic, bool granted);
    void onMessage(const QByteArray &message, const QString &topic);
    void publishChatter();
    QString topic(const QString &direction, const QString &name) const;

    QString gatewayId;
    MqttClient client;
    QTimer chatterTimer;
    bool chatterBeforeReplies = false;
    int chatterCount = 0;
    int unconfirmedTopics = 0;
};
