#include "mqtt/memorybroker.h"

#include "mqtt/memorybrokerconnection.h"

#include <QPointer>
#include <QVector>

MemoryBroker::MemoryBroker(QObject *parent) : QObject(parent) {}

MemoryBroker::~MemoryBroker()
{
    const QList<MemoryBrokerConnection *> remaining = connections;
    for (MemoryBrokerConnection *connection : remaining)
        connection->lose(QStringLiteral("the broker went away"));
}

MemoryBrokerConnection *MemoryBroker::createConnection(QObject *parent)
{
    return new MemoryBrokerConnection(this, parent);
}

void MemoryBroker::setRunning(bool run)
{
    running = run;
    if (!running)
        dropConnections();
}

void MemoryBroker::dropConnections()
{
    const QList<MemoryBrokerConnection *> all = connections;
    for (MemoryBrokerConnection *connection : all) {
        if (connection->state() != MqttConnection::Disconnected)
            connection->lose(QStringLiteral("the connection to the broker was lost"));
    }
}

void MemoryBroker::setFrozen(bool freeze)
{
    frozen = freeze;
    if (!frozen && !posted.isEmpty() && !runScheduled) {
        runScheduled = true;
        QMetaObject::invokeMethod(this, &MemoryBroker::runPosted, Qt::QueuedConnection);
    }
}

void MemoryBroker::setCredentials(const QString &name, const QString &secret)
{
    username = name;
    password = secret;
}

void MemoryBroker::refuseSubscriptions(const QString &rule)
{
    refusals << rule;
}

void MemoryBroker::publish(const QString &topic, const QByteArray &message)
{
    post([this, topic, message] { route(topic, message); });
}

int MemoryBroker::connectionCount() const
{
    return int(std::count_if(connections.cbegin(), connections.cend(), [](MemoryBrokerConnection *c) {
        return c->state() == MqttConnection::Connected;
    }));
}

int MemoryBroker::subscriberCount(const QString &topicFilter) const
{
    return int(std::count_if(subscribers.cbegin(), subscribers.cend(),
                             [&](const Subscriber &s) { return s.filter == topicFilter; }));
}

bool MemoryBroker::filterMatches(const QString &topicFilter, const QString &topic)
{
    const QVector<QStringRef> filterLevels = topicFilter.splitRef(QLatin1Char('/'));
    const QVector<QStringRef> topicLevels = topic.splitRef(QLatin1Char('/'));
    for (int i = 0; i < filterLevels.size(); ++i) {
        if (filterLevels.at(i) == QLatin1String("#"))
            return true;
        if (i >= topicLevels.size())
            return false;
        if (filterLevels.at(i) != QLatin1String("+") && filterLevels.at(i) != topicLevels.at(i))
            return false;
    }
    return filterLevels.size() == topicLevels.size();
}

bool MemoryBroker::isValidFilter(const QString &topicFilter)
{
    if (topicFilter.isEmpty())
        return false;
    const QVector<QStringRef> levels = topicFilter.splitRef(QLatin1Char('/'));
    for (int i = 0; i < levels.size(); ++i) {
        const QStringRef level = levels.at(i);
        if (level.contains(QLatin1Char('#')) && (level.size() != 1 || i != levels.size() - 1))
            return false;
        if (level.contains(QLatin1Char('+')) && level.size() != 1)
            return false;
    }
    return true;
}

bool MemoryBroker::isValidTopic(const QString &topic)
{
    return !topic.isEmpty() && !topic.contains(QLatin1Char('#')) && !topic.contains(QLatin1Char('+'));
}

void MemoryBroker::post(std::function<void()> work)
{
    posted.append(std::move(work));
    if (frozen || runScheduled)
        return;
    runScheduled = true;
    QMetaObject::invokeMethod(this, &MemoryBroker::runPosted, Qt::QueuedConnection);
}

void MemoryBroker::runPosted()
{
    runScheduled = false;
    while (!frozen && !posted.isEmpty())
        posted.takeFirst()();
}

void MemoryBroker::attach(MemoryBrokerConnection *connection)
{
    connections.append(connection);
}

void MemoryBroker::detach(MemoryBrokerConnection *connection)
{
    connections.removeAll(connection);
    forget(connection);
}

// Connections of a clean session start without subscriptions.
void MemoryBroker::forget(MemoryBrokerConnection *connection)
{
    subscribers.erase(
        std::remove_if(subscribers.begin(), subscribers.end(),
                       [connection](const Subscriber &s) { return s.connection == connection; }),
        subscribers.end());
}

void MemoryBroker::acceptConnect(MemoryBrokerConnection *connection, int attempt)
{
    if (!running) {
        connection->refuse(attempt, MqttConnection::ConnectionRefusedError,
                           QStringLiteral("cannot connect to the broker: Connection refused"));
        return;
    }
    const MqttSettings &given = connection->settings();
    if (!username.isEmpty() && (given.username != username || given.password != password)) {
        connection->refuse(attempt, MqttConnection::NotAuthorizedError,
                           QStringLiteral("the broker refused the connection: not authorised"));
        return;
    }
    forget(connection);
    connection->accept(attempt);
}

void MemoryBroker::subscribe(MemoryBrokerConnection *connection, int attempt, const QString &filter)
{
    const bool refused = std::any_of(refusals.cbegin(), refusals.cend(),
                                     [&](const QString &rule) { return filterMatches(rule, filter); });
    const bool known = std::any_of(subscribers.cbegin(), subscribers.cend(), [&](const Subscriber &s) {
        return s.connection == connection && s.filter == filter;
    });
    if (!refused && !known)
        subscribers.append(Subscriber{connection, filter});
    connection->answerSubscribe(attempt, filter, !refused);
}

void MemoryBroker::unsubscribe(MemoryBrokerConnection *connection, int attempt, const QString &filter)
{
    subscribers.erase(
        std::remove_if(subscribers.begin(), subscribers.end(),
                       [&](const Subscriber &s) { return s.connection == connection && s.filter == filter; }),
        subscribers.end());
    connection->answerUnsubscribe(attempt, filter);
}

// A client subscribed with overlapping filters gets a message once, as mosquitto hands it over.
void MemoryBroker::route(const QString &topic, const QByteArray &message)
{
    ++published;
    QList<MemoryBrokerConnection *> receivers;
    for (const Subscriber &subscriber : qAsConst(subscribers)) {
        if (!receivers.contains(subscriber.connection) && filterMatches(subscriber.filter, topic))
            receivers.append(subscriber.connection);
    }
    for (MemoryBrokerConnection *receiver : qAsConst(receivers)) {
        const int limit = receiver->settings().maximumMessageBytes;
        if (limit <= 0 || message.size() + topic.toUtf8().size() < limit)
            receiver->deliver(message, topic);
    }
}
