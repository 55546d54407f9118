#include "links/brokersession.h"

#include "core/debugtrace.h"
#include "links/gatewayupdatelink.h"
#include "links/reconnectbackoff.h"
#include "protocol/gatewaymessages.h"

namespace {

// Never subscribed by anyone: the broker's answer to its unsubscribe says only that it is there.
const QString kQuestionTopic = QStringLiteral("plovikkit/are-you-there");

// Why the link went down, in the word the console and the indicator lead with.
QString dropWord(MqttConnection::ClientError error)
{
    switch (error) {
    case MqttConnection::NotAuthorizedError:
        return QStringLiteral("not authorised");
    case MqttConnection::ConnectionRefusedError:
    case MqttConnection::BrokerRefusedError:
        return QStringLiteral("refused");
    case MqttConnection::ConnectionLostError:
        return QStringLiteral("lost");
    case MqttConnection::BrokerSilentError:
        return QStringLiteral("silent");
    case MqttConnection::HostNotFoundError:
        return QStringLiteral("broker not found");
    case MqttConnection::TlsError:
        return QStringLiteral("TLS failed");
    case MqttConnection::SetupError:
        return QStringLiteral("not started");
    case MqttConnection::UnreachableError:
    case MqttConnection::NoError:
        break;
    }
    return QStringLiteral("unreachable");
}

// Credentials and settings do not mend themselves: the user has to change them.
bool retryCanHelp(MqttConnection::ClientError error)
{
    return error != MqttConnection::NotAuthorizedError && error != MqttConnection::SetupError;
}

QString silenceText(qint64 ms)
{
    return QStringLiteral("no answer from the broker for %1 s").arg((ms + 500) / 1000);
}

} // namespace

BrokerSession::BrokerSession(MqttConnection &connection, QObject *parent)
    : QObject(parent), mqtt(connection), backoff(new ReconnectBackoff(this))
{
    answerDeadline.setSingleShot(true);
    grantDeadline.setSingleShot(true);
    silenceGiveUp.setSingleShot(true);
    connect(&silenceGiveUp, &QTimer::timeout, this, &BrokerSession::onSilenceGiveUp);
    connect(&answerDeadline, &QTimer::timeout, this, &BrokerSession::onAnswerDeadline);
    connect(&grantDeadline, &QTimer::timeout, this, &BrokerSession::onGrantDeadline);
    connect(backoff, &ReconnectBackoff::due, this, &BrokerSession::retryConnection);
    connect(&mqtt, &MqttConnection::connected, this, &BrokerSession::onConnected);
    connect(&mqtt, &MqttConnection::disconnected, this, &BrokerSession::onDisconnected);
    connect(&mqtt, &MqttConnection::subscribed, this, &BrokerSession::onSubscribed);
    connect(&mqtt, &MqttConnection::unsubscribed, this, &BrokerSession::heardFromBroker);
    connect(&mqtt, &MqttConnection::pingResponseReceived, this, &BrokerSession::heardFromBroker);
    connect(&mqtt, &MqttConnection::messageReceived, this, &BrokerSession::onMessage);
}

BrokerSession::~BrokerSession() = default;

// Connecting ends a connection still running, and any attempt that was waiting.
void BrokerSession::connectToHost()
{
    backoff->reset();
    startAttempt();
}

// With the settings of the connection that went down: the window's fields may be half typed.
void BrokerSession::retryConnection()
{
    if (mqtt.state() != MqttConnection::Disconnected)
        return;
    TRACE(lcMqtt) << "reconnect";
    startAttempt();
}

void BrokerSession::startAttempt()
{
    mqtt.connectToHost();
    if (mqtt.state() == MqttConnection::Connecting)
        answerDeadline.start(kConnectDeadlineMs);
    lastHeard.start();
    emit stateChanged(mqtt.state(), QString());
}

void BrokerSession::disconnectFromHost()
{
    mqtt.disconnectFromHost();
}

void BrokerSession::setReconnectHeld(bool held)
{
    backoff->setHeld(held);
    if (mqtt.state() == MqttConnection::Disconnected)
        emit stateChanged(MqttConnection::Disconnected, downDetail());
}

bool BrokerSession::isReconnectHeld() const
{
    return backoff->isHeld();
}

bool BrokerSession::isAnswering() const
{
    return mqtt.state() == MqttConnection::Connected && !asking;
}

void BrokerSession::onConnected()
{
    TRACE(lcMqtt) << "connected";
    everConnected = true;
    backoff->linkUp();
    heardFromBroker();
    if (!lastDownReport.isEmpty())
        emit notice(QStringLiteral("MQTT link up again"));
    lastDownReport.clear();
    // The broker may hold none of them now (a restart, a clean session): all are asked anew.
    const QStringList wanted = holders.keys();
    for (const QString &gatewayId : wanted)
        subscribeGateway(gatewayId);
    emit stateChanged(MqttConnection::Connected, QString());
    emit answeringChanged(isAnswering());
}

void BrokerSession::onDisconnected()
{
    TRACE(lcMqtt) << "disconnected" << mqtt.errorString();
    awaitedGrants.clear();
    grantDeadline.stop();
    answerDeadline.stop();
    silenceGiveUp.stop();
    silenceSaid = false;
    asking = false;
    const MqttConnection::ClientError why = mqtt.error();
    if (why != MqttConnection::NoError)
        lastDropText = mqtt.errorString();
    if (why == MqttConnection::BrokerSilentError)
        backoff->linkSilent();
    else if (why != MqttConnection::NoError && retryCanHelp(why))
        backoff->linkDown();
    else
        backoff->reset();
    reportLinkDown();
    emit stateChanged(MqttConnection::Disconnected, downDetail());
    emit answeringChanged(false);
}

// Said once per reason: attempts that keep failing alike stay quiet.
void BrokerSession::reportLinkDown()
{
    if (mqtt.error() == MqttConnection::NoError) {
        lastDownReport.clear();
        return;
    }
    const QString report = QStringLiteral("MQTT link %1: %2").arg(dropWord(mqtt.error()), mqtt.errorString());
    if (report == lastDownReport)
        return;
    lastDownReport = report;
    emit notice(downDetail());
}

QString BrokerSession::downDetail() const
{
    if (lastDownReport.isEmpty() || mqtt.state() != MqttConnection::Disconnected)
        return QString();
    if (!retryCanHelp(mqtt.error()))
        return lastDownReport + QStringLiteral("; correct the profile and press Connect");
    if (backoff->isHeld())
        return lastDownReport + QStringLiteral("; connecting again after the update");
    return lastDownReport + QStringLiteral("; next attempt in %1 s").arg(backoff->delayMs() / 1000);
}

void BrokerSession::checkAnswering()
{
    if (mqtt.state() != MqttConnection::Connected || asking || lastHeard.elapsed() < kQuietBeforeAskingMs)
        return;
    TRACE(lcMqtt) << "quiet for" << lastHeard.elapsed() << "ms: does the broker still answer?";
    if (!mqtt.unsubscribe(kQuestionTopic))
        return;
    answerDeadline.start(kAnswerDeadlineMs);
    setAsking(true);
}

void BrokerSession::heardFromBroker()
{
    lastHeard.start();
    if (mqtt.state() == MqttConnection::Connected)
        answerDeadline.stop();
    silenceGiveUp.stop();
    if (silenceSaid) {
        silenceSaid = false;
        emit notice(QStringLiteral("the MQTT broker answers again"));
    }
    if (asking)
        setAsking(false);
}

void BrokerSession::setAsking(bool nowAsking)
{
    asking = nowAsking;
    emit answeringChanged(isAnswering());
}

// A connection attempt without an answer is given up at once; a connection that stopped answering
// is said to be silent first, so the updates under way may ride out a stall.
void BrokerSession::onAnswerDeadline()
{
    if (mqtt.state() != MqttConnection::Connected) {
        mqtt.abandon(MqttConnection::BrokerSilentError, silenceText(lastHeard.elapsed()));
        return;
    }
    silenceSaid = true;
    emit notice(QStringLiteral("MQTT link silent: ") + silenceText(lastHeard.elapsed()));
    silenceGiveUp.start(int(qMax<qint64>(0, kSilenceGiveUpMs - lastHeard.elapsed())));
}

void BrokerSession::onSilenceGiveUp()
{
    mqtt.abandon(MqttConnection::BrokerSilentError, silenceText(lastHeard.elapsed()));
}

void BrokerSession::onMessage(const QByteArray &message, const QString &topic)
{
    heardFromBroker();
    emit messageArrived(message, topic);
    const QString gatewayId = GatewayMessages::gatewayOfAnswerTopic(topic);
    if (gatewayId.isEmpty())
        return;
    // A link may detach itself while it takes the message.
    const QList<GatewayUpdateLink *> receivers = links.values(gatewayId);
    for (GatewayUpdateLink *link : receivers)
        link->take(message);
}

void BrokerSession::wantGateway(const QString &gatewayId, const QObject *holder)
{
    const QString problem = GatewayMessages::gatewayIdProblem(gatewayId);
    if (!problem.isEmpty()) {
        refusals.insert(gatewayId, problem);
        emit gatewayRefused(gatewayId, problem);
        return;
    }
    const bool first = !holders.contains(gatewayId);
    holders[gatewayId].insert(holder);
    if (!first)
        return;
    refusals.remove(gatewayId);
    if (mqtt.state() == MqttConnection::Connected)
        subscribeGateway(gatewayId);
}

void BrokerSession::releaseGateway(const QString &gatewayId, const QObject *holder)
{
    auto it = holders.find(gatewayId);
    if (it == holders.end())
        return;
    it->remove(holder);
    if (!it->isEmpty())
        return;
    holders.erase(it);
    unsubscribeGateway(gatewayId);
}

// The six topics go together: when the connection does not take one, none stays.
void BrokerSession::subscribeGateway(const QString &gatewayId)
{
    for (const QString &topic : GatewayMessages::subscriptionTopics(gatewayId)) {
        TRACE(lcMqtt) << "subTopic=" << topic;
        if (!mqtt.subscribe(topic, 0)) {
            refuse(gatewayId,
                   QStringLiteral("the connection did not take the subscription to %1").arg(topic));
            return;
        }
        awaitedGrants.insert(topic, gatewayId);
    }
    // Counted from the last subscription asked for: the broker answers in order.
    grantDeadline.start(kGrantDeadlineMs);
}

void BrokerSession::unsubscribeGateway(const QString &gatewayId)
{
    for (const QString &topic : GatewayMessages::subscriptionTopics(gatewayId)) {
        awaitedGrants.remove(topic);
        if (mqtt.state() == MqttConnection::Connected)
            mqtt.unsubscribe(topic);
    }
}

// A refused topic leaves the gateway deaf to part of its answers: it counts as not subscribed
// at all, and the topics that were granted go too.
void BrokerSession::refuse(const QString &gatewayId, const QString &reason)
{
    holders.remove(gatewayId);
    unsubscribeGateway(gatewayId);
    refusals.insert(gatewayId, reason);
    emit gatewayRefused(gatewayId, reason);
}

void BrokerSession::onSubscribed(const QString &topic, bool granted)
{
    heardFromBroker();
    const auto it = awaitedGrants.find(topic);
    if (it == awaitedGrants.end())
        return;
    const QString gatewayId = it.value();
    awaitedGrants.erase(it);
    if (awaitedGrants.isEmpty())
        grantDeadline.stop();
    if (!granted)
        refuse(gatewayId, QStringLiteral("the broker refused the subscription to %1").arg(topic));
    else if (isGatewaySubscribed(gatewayId))
        emit gatewayGranted(gatewayId);
}

// A broker that said nothing at all meanwhile has stopped answering, which is no refusal: the
// next connection asks again.
void BrokerSession::onGrantDeadline()
{
    if (lastHeard.elapsed() >= kGrantDeadlineMs) {
        mqtt.abandon(MqttConnection::BrokerSilentError, silenceText(lastHeard.elapsed()));
        return;
    }
    QSet<QString> unanswered;
    for (const QString &gatewayId : qAsConst(awaitedGrants))
        unanswered.insert(gatewayId);
    for (const QString &gatewayId : qAsConst(unanswered))
        refuse(gatewayId, QStringLiteral("the broker did not confirm the subscriptions within %1 s")
                              .arg(kGrantDeadlineMs / 1000));
}

bool BrokerSession::isGatewaySubscribed(const QString &gatewayId) const
{
    // An answer still awaited is no grant.
    if (mqtt.state() != MqttConnection::Connected || !holders.contains(gatewayId))
        return false;
    for (const QString &topic : GatewayMessages::subscriptionTopics(gatewayId)) {
        if (awaitedGrants.contains(topic))
            return false;
    }
    return true;
}

bool BrokerSession::grantsSettled(const QStringList &gatewayIds) const
{
    for (const QString &gatewayId : gatewayIds) {
        if (!refusals.contains(gatewayId) && !isGatewaySubscribed(gatewayId))
            return false;
    }
    return true;
}

void BrokerSession::attach(GatewayUpdateLink *link, const QString &gatewayId)
{
    links.insert(gatewayId, link);
}

void BrokerSession::detach(GatewayUpdateLink *link, const QString &gatewayId)
{
    links.remove(gatewayId, link);
    if (!links.contains(gatewayId))
        chatter.forget(gatewayId);
}

void BrokerSession::showChatter(const QString &gatewayId, const QString &text,
                                const ChatterBound::Console &console)
{
    chatter.offer(gatewayId, text, console);
}
