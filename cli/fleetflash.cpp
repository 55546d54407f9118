#include "cli/fleetflash.h"

#include "cli/clireporter.h"
#include "cli/flashhistory.h"
#include "cli/fleetconsole.h"
#include "cli/outputwriter.h"
#include "cli/terminaltext.h"
#include "links/brokersession.h"
#include "links/gatewayfleet.h"
#include "links/serialupdatelink.h"
#include "mqtt/mqttclient.h"
#include "platform/deviceaccess.h"
#include "platform/openfilelimit.h"
#include "platform/portidentity.h"
#include "platform/signalwatcher.h"
#include "protocol/gatewaymessages.h"
#include "serial/serialchannel.h"
#include "update/fleetrunner.h"
#include "update/forwardingreporter.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonObject>
#include <cstdio>

namespace {

// A broker that stopped answering is noticed by the session long before; the keep-alive is
// what tells a broker that this client is gone.
constexpr int kKeepAliveSeconds = 5;
// What a reader that stalls is still given after a signal asked to stop.
constexpr int kDrainAfterSignalMs = 3000;
// Descriptors one open serial target holds: the port, its lock file and the file system notices
// that watch its device (counted in /proc/PID/fd on Linux).
constexpr int kFdsPerPort = 3;
// Kept free for everything else (lock files, the trace, the system's libraries).
constexpr int kReservedFds = 32;

} // namespace

FleetFlash::FleetFlash(const FlashOptions &options, const UpdateRecord &image)
    : options(options), image(image), reporters(size_t(options.targets.size()))
{
    drainDeadline.setSingleShot(true);
    drainDeadline.setInterval(kDrainAfterSignalMs);
    QObject::connect(&drainDeadline, &QTimer::timeout, [this] { drainGivenUp = true; });
}

// Sessions and links go before the broker connection they use, and the runner before the
// record that follows it.
FleetFlash::~FleetFlash()
{
    gatewayFleet.reset();
    serialRunner.reset();
    history.reset();
    session.reset();
    client.reset();
}

int FleetFlash::run(const QByteArray &bytes)
{
    SignalWatcher signalWatcher;
    if (!signalWatcher.install())
        fprintf(stderr, "plovikkit-flash: cannot watch SIGTERM, SIGINT and SIGHUP\n");
    signalWatcher.setSecondSignalEndsProcess(true);
    QObject::connect(&signalWatcher, &SignalWatcher::signalled, [this](int number) { stopBySignal(number); });

    writer = std::make_unique<OutputWriter>(fileno(stdout), fileno(stderr));
    if (!plainSingleTarget())
        console = std::make_unique<FleetConsole>(
            *writer, options.json ? FleetConsole::Format::Json : FleetConsole::Format::Prefixed,
            !singleTarget() && DeviceAccess::stderrIsTerminal(), options.targets);
    history = std::make_unique<FlashHistory>(options, image);
    if (!history->open([this](const QString &text) { note(text); })) {
        drainOutput();
        return ExitUsage;
    }
    if (options.usesBroker())
        startBroker();
    makeRunner();
    // Before the console's own: a target's done event names the record its end completed.
    history->attach(*runner, [this](int index, const QString &text) { reporterOf(index).consoleLine(text); });
    if (console) {
        QObject::connect(runner, &FleetRunner::targetStarted, [this](int index) { console->started(index); });
        QObject::connect(runner, &FleetRunner::targetFinished,
                         [this](int index) { reportTargetFinished(index); });
    }
    QEventLoop loop;
    QObject::connect(runner, &FleetRunner::finished, &loop, &QEventLoop::quit);
    if (gatewayFleet)
        gatewayFleet->start(bytes);
    else
        runner->start(bytes);
    if (runner->isRunning())
        loop.exec();

    history->finish();
    if (console)
        console->summary(*runner, history->runId());
    if (brokerNeverReached())
        return finishOutput(report(ExitPort, QStringLiteral("cannot connect to the MQTT broker %1:%2: %3")
                                                 .arg(options.mqttHost)
                                                 .arg(options.mqttPort)
                                                 .arg(session->lastProblem())));
    if (singleTarget())
        return finishOutput(singleTargetStatus());
    return finishOutput(everyTargetHasTheImage() ? ExitSuccess : ExitUpdateFailed);
}

void FleetFlash::reportTargetFinished(int index)
{
    const QString device = history->deviceOf(index);
    const QString record = history->recordId(index);
    const QJsonObject facts{{"device", device.isEmpty() ? QJsonValue() : QJsonValue(device)},
                            {"sha256", image.imageSha256},
                            {"record", record.isEmpty() ? QJsonValue() : QJsonValue(record)}};
    console->finished(index, runner->result(index), runner->failure(index), runner->elapsedMs(index), facts);
}

// A line of the flasher's own on stderr, in order with what the console wrote.
void FleetFlash::note(const QString &text)
{
    if (console)
        console->note(text);
    else
        report(ExitSuccess, text);
}

// A stdout that took nothing (a full disk, a reader gone) makes the run fail, though the
// devices were updated: whoever reads the output would otherwise take it as complete.
int FleetFlash::finishOutput(int status)
{
    if (!console && writer->droppedLines() > 0)
        report(status,
               QStringLiteral("%1 console lines dropped: standard output did not take them fast enough")
                   .arg(writer->droppedLines()));
    drainOutput();
    if (writer->outError().isEmpty())
        return status;
    status = report(status == ExitSuccess ? ExitUpdateFailed : status,
                    QStringLiteral("cannot write to standard output: %1").arg(writer->outError()));
    drainOutput();
    return status;
}

void FleetFlash::drainOutput()
{
    QEventLoop loop;
    QObject::connect(writer.get(), &OutputWriter::idle, &loop, &QEventLoop::quit);
    QObject::connect(&drainDeadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    draining = true;
    if (!signalReason.isEmpty() && !drainDeadline.isActive())
        drainDeadline.start();
    while (!writer->isIdle() && !drainGivenUp)
        loop.exec();
}

// Serial targets beyond what the open-file limit leaves wait for a free slot instead of
// failing with "Too many open files".
FleetPolicy FleetFlash::policyForThisMachine() const
{
    FleetPolicy policy = options.policy;
    const qint64 limit = OpenFileLimit::raiseToHard();
    if (options.usesBroker() || limit < 0)
        return policy;
    const int openNow = qMax(0, OpenFileLimit::openCount());
    const int portsAtOnce = int(qMax<qint64>(1, (limit - openNow - kReservedFds) / kFdsPerPort));
    const int wanted = policy.parallel > 0 ? policy.parallel : int(options.targets.size());
    if (portsAtOnce >= wanted)
        return policy;
    policy.parallel = portsAtOnce;
    report(ExitSuccess,
           QStringLiteral("at most %1 ports at once: the open-file limit is %2").arg(portsAtOnce).arg(limit));
    return policy;
}

void FleetFlash::stopBySignal(int signalNumber)
{
    if (!signalReason.isEmpty())
        return;
    if (draining)
        drainDeadline.start();
    signalReason = QStringLiteral("stopped by signal %1").arg(signalNumber);
    if (console)
        console->note(signalReason);
    if (runner)
        runner->abortAll({UpdateFailure::Kind::StoppedBySignal, signalReason});
}

int FleetFlash::singleTargetStatus() const
{
    if (auto *reporter = dynamic_cast<CliReporter *>(reporters.front().get()))
        reporter->finishProgress();
    if (runner->result(0) == FleetResult::Success)
        return ExitSuccess;
    if (hasTheImageAlready(0))
        return report(ExitSuccess, runner->failure(0).text);
    // Only the way to the device failing is a port's status; a device that failed is an update's.
    const UpdateFailure &failure = runner->failure(0);
    return report(failure.isLinkFailure() ? ExitPort : ExitUpdateFailed, failure.text);
}

// A target that --skip-done skipped has the image as much as one updated now.
bool FleetFlash::hasTheImageAlready(int index) const
{
    return runner->result(index) == FleetResult::Skipped &&
           runner->failure(index).kind == UpdateFailure::Kind::AlreadyDone;
}

bool FleetFlash::everyTargetHasTheImage() const
{
    for (int i = 0; i < runner->size(); ++i) {
        if (runner->result(i) != FleetResult::Success && !hasTheImageAlready(i))
            return false;
    }
    return true;
}

int FleetFlash::report(int status, const QString &message) const
{
    writer->write(
        OutputWriter::Stream::Err,
        (QStringLiteral("plovikkit-flash: ") + TerminalText::escaped(message) + QLatin1Char('\n')).toUtf8());
    return status;
}

UpdateReporter &FleetFlash::reporterOf(int index)
{
    std::unique_ptr<UpdateReporter> &reporter = reporters.at(size_t(index));
    if (reporter)
        return *reporter;
    if (plainSingleTarget())
        reporter = std::make_unique<CliReporter>(*writer, DeviceAccess::stderrIsTerminal());
    else
        reporter = std::make_unique<ForwardingReporter>(
            [this, index](const QString &text) { console->line(index, text); },
            [this, index](qint64 done, qint64 total) { console->progress(index, done, total); });
    // Each session's first line says where its image came from, as in the window.
    reporter->consoleLine(options.cloudId.isEmpty() ? QStringLiteral("use nation firmware")
                                                    : QStringLiteral("use netserver firmware"));
    return *reporter;
}

void FleetFlash::makeRunner()
{
    const auto reporter = [this](int index) -> UpdateReporter & { return reporterOf(index); };
    if (session) {
        gatewayFleet = std::make_unique<GatewayFleet>(*session, options.targets, options.target,
                                                      options.policy, reporter);
        gatewayFleet->setBrokerWaitMs(options.brokerWaitSeconds * 1000);
        runner = &gatewayFleet->runner();
        return;
    }
    serialRunner = std::make_unique<FleetRunner>(
        options.targets, policyForThisMachine(),
        [this](int index, UpdateFailure *problem) { return makeSerialLink(index, problem); }, reporter);
    runner = serialRunner.get();
}

std::unique_ptr<UpdateLink> FleetFlash::makeSerialLink(int index, UpdateFailure *problem)
{
    const QString name = options.targets.at(index);
    // Resolved now rather than at the start: an adapter re-plugged under a new tty is still found.
    QString port;
    QString resolveProblem;
    if (!PortIdentity::resolve(name, &port, &resolveProblem)) {
        *problem = {UpdateFailure::Kind::LinkLost,
                    QStringLiteral("cannot open port \"%1\": %2").arg(name, resolveProblem)};
        return nullptr;
    }
    auto channel = std::make_unique<SerialChannel>();
    channel->setPortName(port);
    channel->setBaudRate(options.baudRate);
    channel->setSelectedPortName(port);
    if (!channel->openPort()) {
        *problem = {UpdateFailure::Kind::LinkLost,
                    QStringLiteral("cannot open port \"%1\": %2").arg(name, channel->lastOpenError())};
        return nullptr;
    }
    auto link = std::make_unique<SerialUpdateLink>(*channel, options.target);
    // The link owns its port: when the target ends, the port and its lock are given back.
    channel.release()->setParent(link.get());
    return link;
}

// The targets wait for the connection: a broker down at the start, or restarted in the middle,
// holds them back instead of failing them.
void FleetFlash::startBroker()
{
    client = std::make_unique<MqttClient>();
    client->setHostname(options.mqttHost);
    client->setPort(options.mqttPort);
    client->setClientId(options.mqttClientId);
    client->setUsername(options.mqttUser);
    client->setPassword(options.mqttPassword);
    client->setTls(options.tls, options.caFile);
    client->setKeepAlive(kKeepAliveSeconds);
    session = std::make_unique<BrokerSession>(*client);
    QObject::connect(session.get(), &BrokerSession::notice,
                     [this](const QString &line) { showBrokerNotice(line); });
    session->connectToHost();
}

// With one target its console carries the link's ups and downs; stderr keeps the one line of why
// the update failed.
void FleetFlash::showBrokerNotice(const QString &line)
{
    if (console)
        console->note(line);
    else
        reporterOf(0).consoleLine(line);
}

// Nothing could run: the broker was never there (a stop by signal is no broker's fault).
bool FleetFlash::brokerNeverReached() const
{
    return session && !session->hasConnected() && signalReason.isEmpty();
}
