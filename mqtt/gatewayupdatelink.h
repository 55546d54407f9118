#pragma once

#include "bootentry.h"
#include "gatewaybootpublisher.h"
#include "updatelink.h"

#include <QByteArray>
#include <QObject>
#include <QQueue>
#include <QString>
#include <functional>

class MqttClient;

// The update session's way to a device behind a radio gateway: frames and the boot
// request are published to the gateway's topics, and every message the client receives
// is queued and read on its own, so an answer is never lost to a message that arrived
// in the same moment. The client's subscriptions belong to whoever owns it.
class GatewayUpdateLink : public QObject, public UpdateLink, public GatewayBootPublisher
{
    Q_OBJECT
public:
    // A gateway that chatters while nobody waits cannot fill the memory.
    static constexpr int kMaxQueuedMessages = 256;

    // `gatewayId` is asked afresh on every call.
    GatewayUpdateLink(MqttClient &client, std::function<QString()> gatewayId, TargetKind target,
                      QObject *parent = nullptr);

    // Receives the text of every message that is JSON, while a reply wait takes it.
    void setConsole(std::function<void(const QString &)> console) { this->console = std::move(console); }

    void writeFrame(const char *data, qint64 len) override;
    QByteArray waitReply(int timeoutMs) override;
    // Only a gateway target is asked through the broker; a module's commands need the
    // serial port (see performBootEntry) and a demo board asks by itself.
    void sendBootEntry() override;
    bool usesGateway() const override { return true; }
    // The gateway id cannot make a topic, or the broker is not connected.
    QString unavailableReason() const override;

    void publishBootRequest() override;

private:
    void enqueue(const QByteArray &message, const QString &topic);
    bool interrupted() const;
    QByteArray replyIn(const QByteArray &message);

    MqttClient &client;
    std::function<QString()> gatewayId;
    TargetKind target;
    std::function<void(const QString &)> console;
    QQueue<QByteArray> received;
};
