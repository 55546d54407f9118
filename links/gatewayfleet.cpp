#include "links/gatewayfleet.h"

#include "links/brokersession.h"
#include "links/gatewayupdatelink.h"
#include "update/updatefailure.h"
#include "update/updatereporter.h"

GatewayFleet::GatewayFleet(BrokerSession &session, const QStringList &gatewayIds, TargetKind target,
                           FleetPolicy policy, FleetRunner::ReporterFactory reporterOf, QObject *parent)
    : QObject(parent), session(session), gatewayIds(gatewayIds), target(target),
      reporterOf(std::move(reporterOf))
{
    fleet = std::make_unique<FleetRunner>(
        gatewayIds, policy, [this](int index, UpdateFailure *problem) { return makeLink(index, problem); },
        this->reporterOf);
    brokerWait.setSingleShot(true);
    connect(&brokerWait, &QTimer::timeout, this, &GatewayFleet::onBrokerWaitOver);
    connect(fleet.get(), &FleetRunner::targetFinished, this, &GatewayFleet::onTargetFinished);
    connect(fleet.get(), &FleetRunner::finished, this, &GatewayFleet::releaseGateways);
    connect(&session, &BrokerSession::stateChanged, this, &GatewayFleet::followBroker);
    connect(&session, &BrokerSession::answeringChanged, this, &GatewayFleet::followBroker);
    connect(&session, &BrokerSession::gatewayGranted, this, &GatewayFleet::followBroker);
    connect(&session, &BrokerSession::gatewayRefused, this, &GatewayFleet::followBroker);
}

// Sessions and links go before the subscriptions they use.
GatewayFleet::~GatewayFleet()
{
    fleet.reset();
    releaseGateways();
}

void GatewayFleet::start(const QByteArray &image)
{
    for (const QString &gatewayId : qAsConst(gatewayIds))
        session.wantGateway(gatewayId, this);
    fleet->holdLaunches(true);
    fleet->start(image);
    followBroker();
    session.checkAnswering();
}

void GatewayFleet::abortAll(const UpdateFailure &why)
{
    fleet->abortAll(why);
}

// Targets start only over a broker that answers and has said its word on every gateway; the
// wait for a broker that is down starts when it is found down and ends when it is back.
void GatewayFleet::followBroker()
{
    if (!fleet->isRunning())
        return;
    const MqttConnection::ClientState state = session.connection().state();
    if (state == MqttConnection::Connected)
        brokerWait.stop();
    else if (state == MqttConnection::Disconnected && !brokerWait.isActive())
        brokerWait.start(brokerWaitMs);
    fleet->holdLaunches(!session.isAnswering() || !session.grantsSettled(gatewayIds));
}

void GatewayFleet::onBrokerWaitOver()
{
    if (session.connection().state() == MqttConnection::Connected)
        return;
    const QString why = session.lastProblem();
    fleet->skipWaiting(
        UpdateFailure(UpdateFailure::Kind::BrokerUnavailable,
                      QStringLiteral("not started: the MQTT broker was not reachable for %1 s%2")
                          .arg(brokerWaitMs / 1000)
                          .arg(why.isEmpty() ? QString() : QStringLiteral(" (") + why + QLatin1Char(')'))));
}

// The next target is about to start: a broker quiet for a while is asked first.
void GatewayFleet::onTargetFinished(int index)
{
    Q_UNUSED(index)
    session.checkAnswering();
}

std::unique_ptr<UpdateLink> GatewayFleet::makeLink(int index, UpdateFailure *problem)
{
    const QString gatewayId = gatewayIds.at(index);
    const QString refusal = session.refusalOf(gatewayId);
    if (!refusal.isEmpty()) {
        *problem = {UpdateFailure::Kind::BrokerUnavailable, refusal};
        return nullptr;
    }
    auto link = std::make_unique<GatewayUpdateLink>(session, gatewayId, target);
    link->setConsole([this, index](const QString &text) { reporterOf(index).consoleLine(text); });
    return link;
}

void GatewayFleet::releaseGateways()
{
    brokerWait.stop();
    for (const QString &gatewayId : qAsConst(gatewayIds))
        session.releaseGateway(gatewayId, this);
}
