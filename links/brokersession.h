#pragma once

#include "links/chatterbound.h"
#include "mqtt/mqttconnection.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMultiHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

class GatewayUpdateLink;
class ReconnectBackoff;

// Everything one broker connection does for the window and the flasher alike: it connects again
// after a drop, keeps the wanted gateways subscribed on every connection as the broker grants
// them, hands each gateway's messages to that gateway's links, notices a broker that stopped
// answering long before TCP would, and keeps a chattering gateway from flooding the console.
// The connection belongs to the caller and outlives the session.
class BrokerSession : public QObject
{
    Q_OBJECT
public:
    // A broker that has not answered a question within this time is said to be silent, and no
    // new work starts; the updates under way ride out a stall of a few seconds with their waits.
    static constexpr int kAnswerDeadlineMs = 3000;
    // Only a broker quiet for this long is asked whether it still answers.
    static constexpr int kQuietBeforeAskingMs = 1000;
    // A broker silent for this long in all is taken as gone: the connection is made again.
    static constexpr int kSilenceGiveUpMs = 15000;
    // A connection attempt that got no answer by then is given up (and tried again).
    static constexpr int kConnectDeadlineMs = 10000;
    // Subscriptions the broker has not answered by then count as refused.
    static constexpr int kGrantDeadlineMs = 10000;

    explicit BrokerSession(MqttConnection &connection, QObject *parent = nullptr);
    ~BrokerSession() override;

    MqttConnection &connection() const { return mqtt; }

    // Connects with the connection's settings now; an attempt or a connection running ends first.
    void connectToHost();
    void disconnectFromHost();
    // While held, a connection that went down is not made again by itself; released, it is.
    void setReconnectHeld(bool held);
    bool isReconnectHeld() const;
    // Why the link is down and what comes next, as the window's indicator says it; empty while up.
    QString downDetail() const;
    // Up, and not suspected of having stopped answering: new work may start.
    bool isAnswering() const;
    bool hasConnected() const { return everConnected; }
    // Why the connection last went down or failed, kept while the next attempt runs.
    QString lastProblem() const { return lastDropText; }

    // `holder` wants the gateway's answer topics subscribed on every connection, until it
    // releases them or the broker refuses one (gatewayRefused says so).
    void wantGateway(const QString &gatewayId, const QObject *holder);
    void releaseGateway(const QString &gatewayId, const QObject *holder);
    bool isGatewayWanted(const QString &gatewayId) const { return holders.contains(gatewayId); }
    // All answer topics granted on the running connection.
    bool isGatewaySubscribed(const QString &gatewayId) const;
    // Why the gateway's topics were refused; empty unless they were since it was last wanted.
    QString refusalOf(const QString &gatewayId) const { return refusals.value(gatewayId); }
    // Granted or refused: the broker has said its word on each of the gateways.
    bool grantsSettled(const QStringList &gatewayIds) const;

    void attach(GatewayUpdateLink *link, const QString &gatewayId);
    void detach(GatewayUpdateLink *link, const QString &gatewayId);
    // A gateway's message that answers nothing, for the console within the bound.
    void showChatter(const QString &gatewayId, const QString &text, const ChatterBound::Console &console);

public slots:
    // Asks a broker that has been quiet for a while whether it still answers; one that does not
    // within kAnswerDeadlineMs is said to be silent, and abandoned (which makes the connection
    // again) once it has been silent for kSilenceGiveUpMs.
    void checkAnswering();

signals:
    void stateChanged(MqttConnection::ClientState state, const QString &detail);
    void answeringChanged(bool answering);
    void gatewayGranted(const QString &gatewayId);
    void gatewayRefused(const QString &gatewayId, const QString &reason);
    void messageArrived(const QByteArray &message, const QString &topic);
    // A line for the user: the link dropped and why, came back.
    void notice(const QString &line);

private:
    void onConnected();
    void onDisconnected();
    void onSubscribed(const QString &topic, bool granted);
    void onMessage(const QByteArray &message, const QString &topic);
    void heardFromBroker();
    void onAnswerDeadline();
    void onSilenceGiveUp();
    void onGrantDeadline();
    void retryConnection();
    void startAttempt();
    void reportLinkDown();
    void subscribeGateway(const QString &gatewayId);
    void unsubscribeGateway(const QString &gatewayId);
    void refuse(const QString &gatewayId, const QString &reason);
    void setAsking(bool asking);

    MqttConnection &mqtt;
    ReconnectBackoff *backoff;
    ChatterBound chatter;
    QHash<QString, QSet<const QObject *>> holders;
    QHash<QString, QString> refusals;
    // Topics asked for on the running connection whose answer has not come, and their gateway.
    QHash<QString, QString> awaitedGrants;
    QMultiHash<QString, GatewayUpdateLink *> links;
    QElapsedTimer lastHeard;
    QTimer answerDeadline;
    QTimer grantDeadline;
    QTimer silenceGiveUp;
    bool asking = false;
    bool silenceSaid = false;
    bool everConnected = false;
    QString lastDownReport;
    QString lastDropText;
};
