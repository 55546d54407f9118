#pragma once

#include "protocol/targetkind.h"
#include "update/fleetrunner.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <memory>

class BrokerSession;

// Many gateways updated at once through one broker session: the window's batch page and the
// flasher build their fleets here. The gateways are subscribed first and no target starts before
// the broker has granted or refused them; a refused gateway fails alone. While the broker is down
// or silent no target starts; the targets not yet started wait for it up to the broker wait and
// are skipped after that, never failed.
class GatewayFleet : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultBrokerWaitMs = 60000;

    GatewayFleet(BrokerSession &session, const QStringList &gatewayIds, TargetKind target, FleetPolicy policy,
                 FleetRunner::ReporterFactory reporterOf, QObject *parent = nullptr);
    ~GatewayFleet() override;

    void setBrokerWaitMs(int ms) { brokerWaitMs = ms; }
    // Its targets, results and signals; finished() when every target has ended.
    FleetRunner &runner() { return *fleet; }
    const FleetRunner &runner() const { return *fleet; }

    void start(const QByteArray &image);
    void abortAll(const UpdateFailure &why);
    bool isRunning() const { return fleet->isRunning(); }

private:
    std::unique_ptr<UpdateLink> makeLink(int index, UpdateFailure *problem);
    void followBroker();
    void onBrokerWaitOver();
    void onTargetFinished(int index);
    void releaseGateways();

    BrokerSession &session;
    QStringList gatewayIds;
    TargetKind target;
    FleetRunner::ReporterFactory reporterOf;
    std::unique_ptr<FleetRunner> fleet;
    QTimer brokerWait;
    int brokerWaitMs = kDefaultBrokerWaitMs;
};
