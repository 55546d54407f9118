#include "appversion.h"
#include "devicesimulator.h"
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

    TerminationWatcher termination;
    if (!termination.install())
        writeLog(QStringLiteral("cannot watch SIGTERM/SIGINT; the link may stay behind"));
    QObject::connect(&termination, &TerminationWatcher::terminationRequested, &app, [](int signalNumber) {
        writeLog(QStringLiteral("signal %1: exiting").arg(signalNumber));
        QCoreApplication::quit();
    });

    DeviceSimulator simulator(options);
    QObject::connect(&transport, &DeviceTransport::received, &simulator, &DeviceSimulator::receive);
    QObject::connect(&simulator, &DeviceSimulator::output, &transport, &DeviceTransport::write);
    QObject::connect(&simulator, &DeviceSimulator::logLine, &app, &writeLog);
    QObject::connect(&transport, &PtyTransport::logLine, &app, &writeLog);

    std::printf("pty: %s\n", transport.slavePath().toLocal8Bit().constData());
    std::fflush(stdout);
    writeLog(QStringLiteral("%1 target on %2").arg(targetName(options.target), transport.slavePath()));
    simulator.start();

    const int status = app.exec();
    if (!options.linkPath.isEmpty())
        removeLink(options.linkPath, transport.slavePath());
    if (options.summary)
        writeLog(simulator.summary());
    return status;
}
