#include "mqtt/memorybrokerconnection.h"

#include "mqtt/memorybroker.h"

MemoryBrokerConnection::MemoryBrokerConnection(MemoryBroker *broker, QObject *parent)
    : MqttConnection(parent), broker(broker)
{
    broker->attach(this);
}

MemoryBrokerConnection::~MemoryBrokerConnection()
{
    if (broker)
        broker->detach(this);
}

void MemoryBrokerConnection::connectToHost()
{
    disconnectFromHost();
    if (clientState != Disconnected)
        return;
    errorKind = NoError;
    errorText.clear();
    clientState = Connecting;
    const int current = ++attempt;
    if (!broker) {
        refuse(current, UnreachableError, QStringLiteral("no broker"));
        return;
    }
    const QPointer<MemoryBrokerConnection> self(this);
    broker->post([self, current] {
        if (self && self->broker)
            self->broker->acceptConnect(self, current);
    });
}

void MemoryBrokerConnection::disconnectFromHost()
{
    end(NoError, QString());
}

void MemoryBrokerConnection::abandon(ClientError kind, const QString &reason)
{
    end(kind, reason);
}

void MemoryBrokerConnection::end(ClientError kind, const QString &reason)
{
    ++attempt;
    queued.clear();
    if (broker)
        broker->forget(this);
    if (clientState == Disconnected)
        return;
    clientState = Disconnected;
    errorKind = kind;
    errorText = reason;
    emit disconnected();
}

bool MemoryBrokerConnection::subscribe(const QString &topicFilter, int qos)
{
    Q_UNUSED(qos)
    return askAboutFilter(topicFilter, &MemoryBroker::subscribe);
}

bool MemoryBrokerConnection::unsubscribe(const QString &topicFilter)
{
    return askAboutFilter(topicFilter, &MemoryBroker::unsubscribe);
}

// What the broker does with a filter happens from its event loop turn, and only for the
// connection that asked.
bool MemoryBrokerConnection::askAboutFilter(const QString &topicFilter, FilterRequest request)
{
    if (clientState != Connected || !broker || !MemoryBroker::isValidFilter(topicFilter))
        return false;
    const QPointer<MemoryBrokerConnection> self(this);
    const int current = attempt;
    broker->post([self, current, topicFilter, request] {
        if (self && self->broker && self->attempt == current)
            (self->broker->*request)(self, current, topicFilter);
    });
    return true;
}

bool MemoryBrokerConnection::publish(const QString &topic, const QByteArray &message, int qos, bool retain)
{
    Q_UNUSED(qos)
    Q_UNUSED(retain)
    if (clientState != Connected || !broker || !MemoryBroker::isValidTopic(topic))
        return false;
    const QPointer<MemoryBroker> target(broker);
    broker->post([target, topic, message] {
        if (target)
            target->route(topic, message);
    });
    return true;
}

void MemoryBrokerConnection::accept(int connectAttempt)
{
    if (connectAttempt != attempt || clientState != Connecting)
        return;
    clientState = Connected;
    emit connected();
}

void MemoryBrokerConnection::refuse(int connectAttempt, ClientError kind, const QString &reason)
{
    if (connectAttempt == attempt)
        end(kind, reason);
}

void MemoryBrokerConnection::lose(const QString &reason)
{
    if (clientState == Disconnected)
        return;
    const QPointer<MemoryBrokerConnection> self(this);
    const int current = attempt;
    // Seen from the event loop, as a socket's hang-up would be.
    QMetaObject::invokeMethod(
        this,
        [self, current, reason] {
            if (self && self->attempt == current)
                self->end(ConnectionLostError, reason);
        },
        Qt::QueuedConnection);
    if (broker)
        broker->forget(this);
}

void MemoryBrokerConnection::deliver(const QByteArray &message, const QString &topic)
{
    queueSignal([this, message, topic] { emit messageReceived(message, topic); });
}

void MemoryBrokerConnection::answerSubscribe(int connectAttempt, const QString &filter, bool granted)
{
    if (connectAttempt == attempt)
        queueSignal([this, filter, granted] { emit subscribed(filter, granted); });
}

void MemoryBrokerConnection::answerUnsubscribe(int connectAttempt, const QString &filter)
{
    if (connectAttempt == attempt)
        queueSignal([this, filter] { emit unsubscribed(filter); });
}

void MemoryBrokerConnection::queueSignal(std::function<void()> emitter)
{
    queued.append(std::move(emitter));
    if (emitScheduled)
        return;
    emitScheduled = true;
    QMetaObject::invokeMethod(this, &MemoryBrokerConnection::emitQueued, Qt::QueuedConnection);
}

// A handler may end the connection, which drops what is still queued for it, or delete it.
void MemoryBrokerConnection::emitQueued()
{
    emitScheduled = false;
    const QPointer<MemoryBrokerConnection> self(this);
    const int current = attempt;
    while (self && !queued.isEmpty() && attempt == current)
        queued.takeFirst()();
}
