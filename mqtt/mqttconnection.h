#pragma once

#include "mqtt/mqttsettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

// A connection to an MQTT broker as the links and the windows use it: its state and why it
// went down, connect and disconnect, subscriptions with the broker's grant, publishing, and
// the messages that arrive. MqttClient speaks to a real broker over libmosquitto; MemoryBroker
// hands out connections to a broker inside the process, for tests.
//
// Signals are emitted on the owning thread, and a message or a grant never from inside the
// call that asked for it, so a handler may publish, disconnect or connect again.
class MqttConnection : public QObject
{
    Q_OBJECT
public:
    enum ClientState
    {
        Disconnected = 0,
        Connecting = 1,
        Connected = 2
    };
    Q_ENUM(ClientState)

    // Why the last attempt failed or the connection ended, in kinds a caller can act on;
    // errorString() says it in words.
    enum ClientError
    {
        NoError = 0,            // connected, or disconnected on request
        SetupError,             // the settings cannot make a connection (client id, CA file)
        HostNotFoundError,      // the broker's name does not resolve
        ConnectionRefusedError, // nothing accepts connections at the broker's address and port
        UnreachableError,       // no way to the broker, or it hung up before it answered
        TlsError,               // the TLS handshake failed: a certificate, or no TLS on that port
        BrokerRefusedError,     // the broker answered no: protocol version, client id, unavailable
        NotAuthorizedError,     // the broker refused the user name and password, or this client
        ConnectionLostError,    // a connection that was up ended
        BrokerSilentError       // the broker stopped answering while the connection was up
    };
    Q_ENUM(ClientError)

    // The broker's answer to a subscription that it refused.
    static constexpr int kSubscriptionRefused = 0x80;

    explicit MqttConnection(QObject *parent = nullptr) : QObject(parent) {}

    // Taken at the next connectToHost().
    void setSettings(const MqttSettings &settings) { config = settings; }
    const MqttSettings &settings() const { return config; }
    void setHostname(const QString &host) { config.hostName = host; }
    void setPort(quint16 port) { config.port = port; }
    quint16 port() const { return config.port; }
    void setClientId(const QString &id) { config.clientId = id; }
    void setUsername(const QString &name) { config.username = name; }
    void setPassword(const QString &password) { config.password = password; }
    // Seconds between keep-alive pings (0: none); 1 to 4 become 5, the least the library takes.
    void setKeepAlive(int seconds) { config.keepAliveSeconds = MqttSettings::keepAliveOf(seconds); }
    int keepAlive() const { return config.keepAliveSeconds; }
    void setCleanSession(bool clean) { config.cleanSession = clean; }
    // TLS, trusting the system's certificates, or only those in `caFile` when it is given.
    void setTls(bool enabled, const QString &caFile = QString())
    {
        config.tls = enabled;
        config.caFile = caFile;
    }
    bool tlsEnabled() const { return config.tls; }

    virtual ClientState state() const = 0;
    // Why the last attempt failed or the connection ended; empty after a requested disconnect.
    virtual QString errorString() const = 0;
    virtual ClientError error() const = 0;

    // Connects with the settings the connection has now; a running connection ends first.
    virtual void connectToHost() = 0;
    virtual void disconnectFromHost() = 0;
    // Ends a connection that is up as lost, with `reason` as its error text: for a broker
    // that stopped answering, which the connection itself would notice only much later.
    virtual void abandon(ClientError kind, const QString &reason) = 0;

    // False when the connection does not take the request: not connected, or not a valid topic.
    // subscribed() follows with the broker's grant.
    virtual bool subscribe(const QString &topicFilter, int qos = 0) = 0;
    // unsubscribed() follows when the broker has answered. Every broker answers an
    // unsubscribe, also of a topic never subscribed, so it doubles as a question whether the
    // broker still answers at all.
    virtual bool unsubscribe(const QString &topicFilter) = 0;
    virtual bool publish(const QString &topic, const QByteArray &message, int qos = 0,
                         bool retain = false) = 0;

signals:
    void connected();
    // Also after a connection attempt that failed.
    void disconnected();
    void messageReceived(const QByteArray &message, const QString &topic);
    void pingResponseReceived();
    void subscribed(const QString &topicFilter, bool granted);
    void unsubscribed(const QString &topicFilter);

protected:
    MqttSettings config;
};
