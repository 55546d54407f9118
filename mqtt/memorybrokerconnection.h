#pragma once

#include "mqtt/mqttconnection.h"

#include <QList>
#include <QPointer>
#include <functional>

class MemoryBroker;

// One client's connection to a MemoryBroker. What the broker hands over is queued and emitted
// from the event loop in order, and only while the connection it belongs to is still the
// running one.
class MemoryBrokerConnection : public MqttConnection
{
    Q_OBJECT
public:
    ~MemoryBrokerConnection() override;

    ClientState state() const override { return clientState; }
    QString errorString() const override { return errorText; }
    ClientError error() const override { return errorKind; }

    void connectToHost() override;
    void disconnectFromHost() override;
    void abandon(ClientError kind, const QString &reason) override;
    bool subscribe(const QString &topicFilter, int qos = 0) override;
    bool unsubscribe(const QString &topicFilter) override;
    bool publish(const QString &topic, const QByteArray &message, int qos = 0, bool retain = false) override;

private:
    friend class MemoryBroker;

    explicit MemoryBrokerConnection(MemoryBroker *broker, QObject *parent);

    // Called by the broker, from its event loop turn.
    void accept(int attempt);
    void refuse(int attempt, ClientError kind, const QString &reason);
    void lose(const QString &reason);
    void deliver(const QByteArray &message, const QString &topic);
    void answerSubscribe(int attempt, const QString &filter, bool granted);
    void answerUnsubscribe(int attempt, const QString &filter);

    using FilterRequest = void (MemoryBroker::*)(MemoryBrokerConnection *, int, const QString &);
    bool askAboutFilter(const QString &topicFilter, FilterRequest request);
    void queueSignal(std::function<void()> emitter);
    void emitQueued();
    void end(ClientError kind, const QString &reason);

    QPointer<MemoryBroker> broker;
    ClientState clientState = Disconnected;
    ClientError errorKind = NoError;
    QString errorText;
    // Counts connections, so that what the broker says of an ended one is dropped.
    int attempt = 0;
    QList<std::function<void()>> queued;
    bool emitScheduled = false;
};
