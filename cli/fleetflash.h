#pragma once

#include "cli/flashoptions.h"
#include "history/updaterecord.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QTimer>
#include <memory>

class BrokerSession;
class FlashHistory;
class FleetConsole;
class OutputWriter;
class FleetRunner;
class GatewayFleet;
class MqttClient;
class UpdateLink;
class UpdateReporter;
struct UpdateFailure;

// One run of the flasher over its targets: the links (a serial port each, or one broker
// connection for every gateway), a session per target, and the report on stdout and stderr.
class FleetFlash
{
public:
    enum ExitStatus
    {
        ExitSuccess = 0,
        ExitUpdateFailed = 1,
        ExitUsage = 2,
        ExitPort = 3,
        ExitCloud = 4
    };

    // `image` holds the facts of the image the update records repeat (SHA-256, size, name, source).
    FleetFlash(const FlashOptions &options, const UpdateRecord &image);
    ~FleetFlash();

    // Runs every target to its end and returns the exit status.
    int run(const QByteArray &bytes);

private:
    void startBroker();
    void makeRunner();
    void showBrokerNotice(const QString &line);
    bool brokerNeverReached() const;
    std::unique_ptr<UpdateLink> makeSerialLink(int index, UpdateFailure *problem);
    UpdateReporter &reporterOf(int index);
    FleetPolicy policyForThisMachine() const;
    void stopBySignal(int signalNumber);
    void reportTargetFinished(int index);
    void note(const QString &text);
    int singleTargetStatus() const;
    bool hasTheImageAlready(int index) const;
    bool everyTargetHasTheImage() const;
    int report(int status, const QString &message) const;
    int finishOutput(int status);
    void drainOutput();
    bool singleTarget() const { return options.targets.size() == 1; }
    bool plainSingleTarget() const { return singleTarget() && !options.json; }

    const FlashOptions &options;
    UpdateRecord image;
    std::unique_ptr<FlashHistory> history;
    std::unique_ptr<OutputWriter> writer;
    // Once a signal asked to stop, what a stalled reader does not take is given up after this.
    QTimer drainDeadline;
    bool draining = false;
    bool drainGivenUp = false;
    std::unique_ptr<MqttClient> client;
    std::unique_ptr<BrokerSession> session;
    std::unique_ptr<FleetConsole> console;
    std::vector<std::unique_ptr<UpdateReporter>> reporters;
    // Serial targets run in a runner of their own, gateways in a fleet of the broker session.
    std::unique_ptr<FleetRunner> serialRunner;
    std::unique_ptr<GatewayFleet> gatewayFleet;
    FleetRunner *runner = nullptr;
    QString signalReason;
};
