#include "core/appversion.h"
#include "core/consoleline.h"
#include "platform/signalwatcher.h"
#include "tools/devsim/benchslot.h"
#include "tools/devsim/gatewayconnection.h"
#include "tools/devsim/gatewaytransport.h"
#include "tools/devsim/ptytransport.h"
#include "tools/devsim/simulateddevice.h"
#include "tools/devsim/simulatoroptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <sys/prctl.h>
#include <vector>

namespace {

// A line per frame of a hundred devices is many writes: the lines of one turn of the event loop go
// out together, right after it.
QByteArray pendingLog;

void flushLog()
{
    std::fwrite(pendingLog.constData(), 1, size_t(pendingLog.size()), stderr);
    std::fflush(stderr);
    pendingLog.clear();
}

// Whatever way the simulator ends, its last lines go out.
struct LogFlushAtExit
{
    ~LogFlushAtExit() { flushLog(); }
} logFlushAtExit;

void writeLog(const QString &line)
{
    if (pendingLog.isEmpty() && QCoreApplication::instance())
        QTimer::singleShot(0, &flushLog);
    pendingLog += (ConsoleLine::timeNow() + QLatin1Char(' ') + line).toLocal8Bit() + '\n';
    if (!QCoreApplication::instance())
        flushLog();
}

// Replaces a stale symlink from an earlier run, but never a real file.
bool makeLink(const QString &linkPath, const QString &target, QString *error)
{
    const QFileInfo existing(linkPath);
    if (existing.isSymLink())
        QFile::remove(linkPath);
    else if (existing.exists()) {
        *error = QStringLiteral("--link: %1 exists and is not a symlink").arg(linkPath);
        return false;
    }
    if (!QFile::link(target, linkPath)) {
        *error = QStringLiteral("--link: cannot create %1").arg(linkPath);
        return false;
    }
    return true;
}

void removeLink(const QString &linkPath, const QString &target)
{
    const QFileInfo link(linkPath);
    if (link.isSymLink() && link.symLinkTarget() == target)
        QFile::remove(linkPath);
}

using Devices = std::vector<std::unique_ptr<SimulatedDevice>>;
using Ports = std::vector<std::unique_ptr<PtyTransport>>;

void printLine(const QString &line, FILE *stream)
{
    std::fprintf(stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stream);
}

SimulatedDevice *addDevice(Devices *devices, const QString &name, const SimulatorOptions &options,
                           DeviceTransport *transport)
{
    devices->push_back(std::make_unique<SimulatedDevice>(name, options, transport));
    QObject::connect(devices->back().get(), &SimulatedDevice::logLine, &writeLog);
    return devices->back().get();
}

// False with a message at the first port that cannot be opened or linked.
bool openPorts(const SimulatorOptions &options, Ports *ports, QString *error)
{
    for (int i = 0; i < options.portCount; ++i) {
        ports->push_back(std::make_unique<PtyTransport>());
        PtyTransport &port = *ports->back();
        port.setBaudRate(options.baudRate);
        if (!port.open(error))
            return false;
        const QString linkPath = options.linkPaths.value(i);
        if (!linkPath.isEmpty() && !makeLink(linkPath, port.slavePath(), error))
            return false;
    }
    return true;
}

void removeLinks(const SimulatorOptions &options, const Ports &ports)
{
    for (size_t i = 0; i < ports.size(); ++i) {
        const QString linkPath = options.linkPaths.value(int(i));
        if (!linkPath.isEmpty())
            removeLink(linkPath, ports[i]->slavePath());
    }
}

int runOnPty(const SimulatorOptions &options, Devices *devices)
{
    Ports ports;
    QString error;
    if (!openPorts(options, &ports, &error)) {
        printLine(error, stderr);
        removeLinks(options, ports);
        return 1;
    }
    const QStringList names = options.portNames();
    for (size_t i = 0; i < ports.size(); ++i)
        addDevice(devices, names.at(int(i)), options, ports[i].get());
    for (size_t i = 0; i < ports.size(); ++i) {
        printLine(QStringLiteral("pty: ") + ports[i]->slavePath(), stdout);
        writeLog(devices->at(i)->logPrefix() +
                 QStringLiteral("%1 target on %2")
                     .arg(TargetKindText::name(options.target), ports[i]->slavePath()));
        devices->at(i)->start();
    }
    const int status = QCoreApplication::exec();
    removeLinks(options, ports);
    return status;
}

using BenchSlots = std::vector<std::unique_ptr<BenchSlot>>;

void writeBenchSummary(const BenchSlots &benchSlots)
{
    QList<BenchUnit> units;
    for (const std::unique_ptr<BenchSlot> &slot : benchSlots)
        units += slot->units();
    for (const BenchUnit &unit : qAsConst(units))
        writeLog(unit.summaryLine());
    writeLog(BenchUnit::totalsLine(units));
}

void quitWhenAllDone(const BenchSlots &benchSlots)
{
    for (const std::unique_ptr<BenchSlot> &slot : benchSlots) {
        if (!slot->isDone())
            return;
    }
    // A pty whose master closes loses what the tool has not read yet: the last device's last
    // answers get a moment to be read.
    constexpr int kLastAnswersMs = 1000;
    writeLog(QStringLiteral("every device has left"));
    QTimer::singleShot(kLastAnswersMs, &QCoreApplication::quit);
}

// Each pty a fixture that devices pass one at a time.
int runBench(const SimulatorOptions &options)
{
    Ports ports;
    QString error;
    if (!openPorts(options, &ports, &error)) {
        printLine(error, stderr);
        removeLinks(options, ports);
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    BenchSlots benchSlots;
    for (size_t i = 0; i < ports.size(); ++i) {
        benchSlots.push_back(std::make_unique<BenchSlot>(int(i) + 1, options, ports[i].get(), &clock));
        BenchSlot *slot = benchSlots.back().get();
        QObject::connect(slot, &BenchSlot::logLine, &writeLog);
        if (options.exitWhenDone)
            QObject::connect(slot, &BenchSlot::done, [&benchSlots] { quitWhenAllDone(benchSlots); });
    }
    for (size_t i = 0; i < ports.size(); ++i) {
        printLine(QStringLiteral("pty: ") + ports[i]->slavePath(), stdout);
        writeLog(QStringLiteral("[%1] bench of %2 %3 devices on %4")
                     .arg(i + 1)
                     .arg(options.devicesPerPort)
                     .arg(TargetKindText::name(options.target), ports[i]->slavePath()));
        benchSlots[i]->start();
    }
    const int status = QCoreApplication::exec();
    if (options.summary)
        writeBenchSummary(benchSlots);
    removeLinks(options, ports);
    return status;
}

void announceGateways(const Devices &devices, const SimulatorOptions &options)
{
    for (const std::unique_ptr<SimulatedDevice> &device : devices) {
        printLine(QStringLiteral("gateway: ") + device->name(), stdout);
        writeLog(device->logPrefix() +
                 QStringLiteral("%1 target behind gateway %2 on %3:%4")
                     .arg(TargetKindText::name(options.target), device->name(), options.mqttHost)
                     .arg(options.mqttPort));
        device->start();
    }
}

// The gateways go when their broker goes, as real ones lose their uplink.
int runOnGateway(const SimulatorOptions &options, Devices *devices)
{
    GatewayConnection connection(QStringLiteral("plovikkit-devsim-%1").arg(options.gatewayIds.first()));
    std::vector<std::unique_ptr<GatewayTransport>> gateways;
    for (const QString &id : options.gatewayIds) {
        gateways.push_back(std::make_unique<GatewayTransport>(id, connection.client()));
        gateways.back()->setChatter(options.chatterMs, options.chatterBeforeReplies);
        connection.addGateway(gateways.back().get());
        addDevice(devices, id, options, gateways.back().get());
    }
    QObject::connect(&connection, &GatewayConnection::failed, [](const QString &reason) {
        writeLog(QStringLiteral("broker: ") + reason);
        QCoreApplication::exit(1);
    });
    QObject::connect(&connection, &GatewayConnection::ready,
                     [devices, &options] { announceGateways(*devices, options); });
    connection.start(options.mqttHost, options.mqttPort);
    return QCoreApplication::exec();
}

void writeSummaries(const Devices &devices)
{
    int succeeded = 0;
    for (const std::unique_ptr<SimulatedDevice> &device : devices) {
        writeLog(device->summary());
        succeeded += device->updateSucceeded() ? 1 : 0;
    }
    if (devices.size() > 1)
        writeLog(QStringLiteral("summary: devices=%1 succeeded=%2").arg(devices.size()).arg(succeeded));
}

} // namespace

int main(int argc, char *argv[])
{
    // The kernel may defer a timer by this much to save wake-ups; at 921600 baud the
    // default 50 µs is five character times.
    prctl(PR_SET_TIMERSLACK, 1UL);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plovikkit-devsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PLOVIKKIT_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(SimulatorOptions::helpText());
    parser.addHelpOption();
    parser.addVersionOption();
    SimulatorOptions::addTo(&parser);
    parser.process(app);

    SimulatorOptions options;
    QString error;
    if (!SimulatorOptions::read(parser, &options, &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 2;
    }

    SignalWatcher termination;
    if (!termination.install())
        writeLog(QStringLiteral("cannot watch SIGTERM/SIGINT; the link may stay behind"));
    QObject::connect(&termination, &SignalWatcher::signalled, &app, [](int signalNumber) {
        writeLog(QStringLiteral("signal %1: exiting").arg(signalNumber));
        QCoreApplication::quit();
    });

    Devices devices;
    if (options.devicesPerPort > 0)
        return runBench(options);
    const int status =
        options.mqttHost.isEmpty() ? runOnPty(options, &devices) : runOnGateway(options, &devices);
    if (options.summary)
        writeSummaries(devices);
    return status;
}
