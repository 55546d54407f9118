#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>

class MemoryBrokerConnection;

// A broker inside the process, for tests of whatever talks through an MqttConnection: topic
// filters with + and #, grants and refusals, credentials, the largest message a client takes,
// and the faults of a real broker: it can stop (connections lost, new ones refused), drop its
// connections, or freeze (it takes nothing in and hands nothing out until thawed, as a broker
// process that hangs).
//
// Everything it does happens from the event loop, never inside the call that asked, as over a
// socket.
class MemoryBroker : public QObject
{
    Q_OBJECT
public:
    explicit MemoryBroker(QObject *parent = nullptr);
    ~MemoryBroker() override;

    // A new connection to this broker, not yet connected; it may outlive the broker.
    MemoryBrokerConnection *createConnection(QObject *parent = nullptr);

    // Stopped, every connection is lost and every new attempt refused.
    void setRunning(bool running);
    bool isRunning() const { return running; }
    // Every connection that is up ends as lost; the broker goes on running.
    void dropConnections();
    // Frozen, the broker takes nothing in and hands nothing out; thawed, it goes on in order.
    void setFrozen(bool frozen);
    bool isFrozen() const { return frozen; }
    // A user name and password every connection must give; empty: anyone.
    void setCredentials(const QString &username, const QString &password);
    // Subscriptions whose filter `rule` matches (as a topic) are refused.
    void refuseSubscriptions(const QString &rule);
    // Publishes as another client of the broker would.
    void publish(const QString &topic, const QByteArray &message);

    int connectionCount() const;
    // How many connections hold a subscription with exactly this filter.
    int subscriberCount(const QString &topicFilter) const;
    quint64 messagesPublished() const { return published; }

    // Whether `topic` is one of the topics the filter names: + is one level, # all that follow.
    static bool filterMatches(const QString &topicFilter, const QString &topic);
    static bool isValidFilter(const QString &topicFilter);
    static bool isValidTopic(const QString &topic);

private:
    friend class MemoryBrokerConnection;

    struct Subscriber
    {
        MemoryBrokerConnection *connection;
        QString filter;
    };

    // What a connection asks of the broker, handled from the event loop.
    void post(std::function<void()> work);
    void runPosted();
    void attach(MemoryBrokerConnection *connection);
    void detach(MemoryBrokerConnection *connection);
    void acceptConnect(MemoryBrokerConnection *connection, int attempt);
    void subscribe(MemoryBrokerConnection *connection, int attempt, const QString &filter);
    void unsubscribe(MemoryBrokerConnection *connection, int attempt, const QString &filter);
    void route(const QString &topic, const QByteArray &message);
    void forget(MemoryBrokerConnection *connection);

    QList<MemoryBrokerConnection *> connections;
    QList<Subscriber> subscribers;
    QList<std::function<void()>> posted;
    QStringList refusals;
    QString username;
    QString password;
    quint64 published = 0;
    bool running = true;
    bool frozen = false;
    bool runScheduled = false;
};
