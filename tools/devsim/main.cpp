#include "appversion.h"
#include "devicesimulator.h"
#include "gatewaytransport.h"
#include "ptytransport.h"
#include "simulatoroptions.h"
#include "terminationwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <sys/prctl.h>

namespace {

void writeLog(const QString &line)
{
    const QString stamped = QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz ")) + line;
    std::fprintf(stderr, "%s\n", stamped.toLocal8Bit().constData());
    std::fflush(stderr);
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

void attach(DeviceTransport &transport, DeviceSimulator &simulator)
{
    QObject::connect(&transport, &DeviceTransport::received, &simulator, &DeviceSimulator::receive);
    QObject::connect(&simulator, &DeviceSimulator::output, &transport, &DeviceTransport::write);
}

int runOnPty(DeviceSimulator &simulator, const SimulatorOptions &options)
{
    QString error;
    PtyTransport transport;
    transport.setBaudRate(options.baudRate);
    if (!transport.open(&error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    if (!options.linkPath.isEmpty() && !makeLink(options.linkPath, transport.slavePath(), &error)) {
        std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
        return 1;
    }
    attach(transport, simulator);
    QObject::connect(&transport, &PtyTransport::logLine, &writeLog);

    std::printf("pty: %s\n", transport.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);
    writeLog(QStringLiteral("%1 target on %2").arg(targetName(options.target), transport.slavePath()));
    simulator.start();

    const int status = QCoreApplication::exec();
    if (!options.linkPath.isEmpty())
        removeLink(options.linkPath, transport.slavePath());
    return status;
}

// The gateway goes when its broker goes, as a real one loses its uplink.
int runOnGateway(DeviceSimulator &simulator, const SimulatorOptions &options)
{
    GatewayTransport transport(options.gatewayId);
    transport.setChatter(options.chatterMs, options.chatterBeforeReplies);
    attach(transport, simulator);
    QObject::connect(&transport, &GatewayTransport::bootRequested, &simulator,
                     &DeviceSimulator::gatewayBootRequest);
    QObject::connect(&transport, &GatewayTransport::logLine, &writeLog);
    QObject::connect(&transport, &GatewayTransport::failed, [](const QString &reason) {
        writeLog(QStringLiteral("broker: ") + reason);
        QCoreApplication::exit(1);
    });
    QObject::connect(&transport, &GatewayTransport::ready, [&simulator, &options] {
        std::printf("gateway: %s\n", options.gatewayId.toLocal8Bit().constData());
        std::fflush(stdout);
        writeLog(QStringLiteral("%1 target behind gateway %2 on %3:%4")
                     .arg(targetName(options.target), options.gatewayId, options.mqttHost)
                     .arg(options.mqttPort));
        simulator.start();
    });
    transport.start(options.mqttHost, options.mqttPort);
    return QCoreApplication::exec();
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

    TerminationWatcher termination;
    if (!termination.install())
        writeLog(QStringLiteral("cannot watch SIGTERM/SIGINT; the link may stay behind"));
    QObject::connect(&termination, &TerminationWatcher::terminationRequested, &app, [](int signalNumber) {
        writeLog(QStringLiteral("signal %1: exiting").arg(signalNumber));
        QCoreApplication::quit();
    });

    DeviceSimulator simulator(options);
    QObject::connect(&simulator, &DeviceSimulator::logLine, &app, &writeLog);
    const int status =
        options.mqttHost.isEmpty() ? runOnPty(simulator, options) : runOnGateway(simulator, options);
    if (options.summary)
        writeLog(simulator.summary());
    return status;
}
