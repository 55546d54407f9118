#pragma once

#include "cli/flashoptions.h"
#include "history/updaterecord.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QTimer>
#include <memory>

class FlashHistory;
class FleetConsole;
class OutputWriter;
class FleetRunner;
class GatewayRouter;
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
    int connectBroker();
    QString subscribeGateways();
    std::unique_ptr<UpdateLink> makeLink(int index, UpdateFailure *problem);
    std::unique_ptr<UpdateLink> makeSerialLink(int index, UpdateFailure *problem);
    std::unique_ptr<UpdateLink> makeGatewayLink(int index, UpdateFailure *problem);
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
    std::unique_ptr<GatewayRouter> router;
    // Gateways whose answer topics the broker refused or did not confirm, with the reason.
    QHash<QString, QString> unsubscribed;
    std::unique_ptr<FleetConsole> console;
    std::vector<std::unique_ptr<UpdateReporter>> reporters;
    std::unique_ptr<FleetRunner> runner;
    QString signalReason;
};
