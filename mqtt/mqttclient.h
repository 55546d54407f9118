#pragma once

#include "mqtt/mqttconnection.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>

struct mosquitto;
struct mosquitto_message;
class QHostInfo;
class QSocketNotifier;

// One MQTT connection over libmosquitto, driven by the event loop of the thread that owns
// it: socket notifiers wake it when the broker has sent something or the socket takes
// more, and a timer wakes it a few times a keep-alive for the library's pings. Nothing blocks:
// the host name is resolved in the background and the socket connects without waiting.
// Signals are emitted on the owning thread and never from inside a library callback, so
// their handlers may publish, disconnect or connect again.
class MqttClient : public MqttConnection
{
    Q_OBJECT
public:
    // "HOST" or "HOST:PORT" ("[::1]:1883" for an IPv6 address); false when it is neither.
    static bool splitBrokerAddress(const QString &text, QString *host, quint16 *port);

    explicit MqttClient(QObject *parent = nullptr);
    ~MqttClient() override;

    // The protocol of the running or last connection: MQTT 5 first, 3.1.1 with a broker that
    // refuses 5.
    bool speaksMqtt5() const { return protocolVersion == kMqtt5; }

    ClientState state() const override { return clientState; }
    QString errorString() const override { return errorText; }
    ClientError error() const override { return errorKind; }

    // Takes effect for the settings above as they are now; a running connection ends first.
    void connectToHost() override;
    void disconnectFromHost() override;
    void abandon(ClientError kind, const QString &reason) override;

    bool subscribe(const QString &topicFilter, int qos = 0) override;
    bool unsubscribe(const QString &topicFilter) override;
    bool publish(const QString &topic, const QByteArray &message, int qos = 0, bool retain = false) override;

private slots:
    void onHostLookedUp(const QHostInfo &host);

private:
    // What a library callback reported, handed on once the library call has returned.
    struct Event
    {
        enum Kind
        {
            Connack,
            Lost,
            Message,
            PingResponse,
            Suback,
            Unsuback
        } kind;
        int attempt;
        int code;
        QByteArray payload;
        QString topic;
    };

    static void onConnect(mosquitto *, void *self, int code);
    static void onDisconnect(mosquitto *, void *self, int code);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *message);
    static void onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted);
    static void onUnsubscribe(mosquitto *, void *self, int mid);
    static void onLog(mosquitto *, void *self, int level, const char *text);

    void queueEvent(Event::Kind kind, int code, const QByteArray &payload = {}, const QString &topic = {});
    void startAttempt();
    void startConnection(const QHostInfo &host);
    void refuseConnection(int code);
    int connectAsync(const QByteArray &target);
    bool fallBackToMqtt311(int code);
    bool createHandle();
    QString applyTls();
    void watchSocket();
    void onSocketActivity(int (*step)(mosquitto *, int));
    void onReadable();
    void onHousekeeping();
    void armHousekeeping();
    void afterLoopStep(int attempt, int result, int savedErrno, bool socketEvent);
    void failConnect(int socket);
    void afterRequest();
    // False when a handler deleted the client.
    bool dispatchEvents();
    void handleEvent(const Event &event);
    void teardown(ClientError kind, const QString &reason);
    void teardownAfter(int result, int savedErrno);
    ClientError errorOf(int result, int savedErrno) const;
    QString describe(int result, int savedErrno) const;

    static constexpr int kMqtt5 = 5;
    static constexpr int kMqtt311 = 4;

    int protocolVersion = kMqtt5;
    ClientState clientState = Disconnected;
    QString errorText;
    ClientError errorKind = NoError;
    QString lastLibraryError;
    mosquitto *handle = nullptr;
    int connectErrno = 0;
    // Counts connection attempts, so that reports of an ended one are dropped.
    int connectionAttempt = 0;
    int hostLookupId = -1;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QTimer housekeeping;
    QList<Event> events;
    QHash<int, QString> pendingSubscriptions;
    QHash<int, QString> pendingUnsubscriptions;
};
