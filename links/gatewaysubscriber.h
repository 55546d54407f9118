#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class MqttClient;

// Subscribes the answer topics of some gateways and waits for the broker to grant them: a
// refusal (an access list) would otherwise look like a device that never answers. done()
// follows once the broker has answered for every topic, did not within the time-out, or
// went away.
class GatewaySubscriber : public QObject
{
    Q_OBJECT
public:
    static constexpr int kConfirmMs = 10000;

    explicit GatewaySubscriber(MqttClient &client, QObject *parent = nullptr);

    void subscribe(const QStringList &gatewayIds);
    bool isDone() const { return finished; }
    // The gateways the broker did not grant, each with the reason.
    QHash<QString, QString> refusals() const { return refused; }

signals:
    void done();

private:
    void onSubscribed(const QString &topic, bool granted);
    void refuseRest(const QString &reason);
    void finish();

    MqttClient &client;
    QHash<QString, QString> gatewayOfTopic;
    QHash<QString, QString> refused;
    QTimer deadline;
    bool finished = false;
};
