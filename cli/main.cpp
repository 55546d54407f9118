// plovikkit-flash: the window's update engine without the window, for one device or many.
//
// Exit status: 0 when every device confirmed its update (or, with --skip-done, had the image
// already); 1 when an update ran and ended
// otherwise, or a target failed or was skipped, or --history cannot read the record; 2 for a
// usage error, an image that is missing, unreadable or empty, or a --retry-failed or --skip-done
// that the record cannot answer; 3 when the way to a single target failed (its serial port cannot be
// opened or is lost, the MQTT broker cannot be reached or goes away); 4 when the cloud service
// fails or refuses. A station (--station) ends with 0 when no unit failed, 1 when one did, and 3
// when no unit ran and none of its ports could ever be opened.
#include "cli/cloudcommands.h"
#include "cli/flashhistory.h"
#include "cli/flashoptions.h"
#include "cli/fleetflash.h"
#include "cli/historycommand.h"
#include "cli/stationflash.h"
#include "cli/terminaltext.h"
#include "core/appversion.h"
#include "history/historylocation.h"
#include "platform/portidentity.h"
#include "platform/serialportlist.h"
#include "storage/firmwareimage.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <csignal>
#include <cstdio>

namespace {

enum ExitStatus
{
    ExitSuccess = FleetFlash::ExitSuccess,
    ExitUsage = FleetFlash::ExitUsage,
    ExitCloud = FleetFlash::ExitCloud,
};

void messageHandler(QtMsgType, const QMessageLogContext &, const QString &message)
{
    fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

int fail(int status, const QString &message)
{
    fprintf(stderr, "plovikkit-flash: %s\n", message.toLocal8Bit().constData());
    return status;
}

// Scripts read "<name> <description>": what a port is beyond its name only follows.
QString portLine(const SerialPortEntry &port, const PortIdentity &identity)
{
    QString line = port.name + QLatin1Char(' ') + port.description;
    if (!identity.serialNumber.isEmpty())
        line += QStringLiteral(" serial=") + TerminalText::escaped(identity.serialNumber);
    if (!identity.usbId.isEmpty())
        line += QStringLiteral(" usb=") + identity.usbId;
    return line;
}

int listPorts()
{
    const QList<SerialPortEntry> ports = SerialPortList::availablePorts();
    QStringList names;
    for (const SerialPortEntry &port : ports)
        names.append(port.name);
    const QList<PortIdentity> identities = PortIdentity::of(names);
    for (int i = 0; i < ports.size(); ++i)
        printf("%s\n", portLine(ports.at(i), identities.value(i)).toLocal8Bit().constData());
    return ExitSuccess;
}

// Asks the file system only: opening a FIFO named by mistake would block for ever.
QString imageProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("image \"%1\" does not exist").arg(path);
    const QString problem = FirmwareImage::fileProblem(path);
    if (!problem.isEmpty())
        return problem;
    if (!info.isReadable())
        return QStringLiteral("image \"%1\" cannot be read: permission denied").arg(path);
    if (info.size() == 0)
        return QStringLiteral("image \"%1\" is empty").arg(path);
    return QString();
}

int listFirmware(const FlashOptions &options)
{
    QString reason;
    if (!CloudCommands::listFirmware(options.account, options.password, options.filter, stdout, &reason))
        return fail(ExitCloud, reason);
    return ExitSuccess;
}

// The bytes to send, read as the window reads them.
QByteArray readImage(const QString &path, QString *problem)
{
    QByteArray bytes;
    FirmwareImage::read(QFileInfo(path).absoluteFilePath(), &bytes, problem);
    return bytes;
}

// What every record of the run says of its image.
UpdateRecord imageFacts(const FlashOptions &options, const QByteArray &image)
{
    UpdateRecord facts;
    facts.imageSha256 =
        QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    facts.imageSize = image.size();
    if (options.cloudId.isEmpty()) {
        facts.imageName = QFileInfo(options.imagePath).fileName();
        facts.imageSource = QFileInfo(options.imagePath).absoluteFilePath();
    } else {
        facts.imageName = options.cloudId;
        facts.imageSource = QStringLiteral("cloud:") + options.cloudId;
    }
    return facts;
}

int flash(const FlashOptions &options)
{
    // A cloud record is downloaded (once for every target) and checked before any device is
    // touched, so a failed or refused download sends nothing.
    QByteArray image;
    QString problem;
    if (!options.cloudId.isEmpty()) {
        if (!CloudCommands::downloadFirmware(options.cloudId, &image, &problem))
            return fail(ExitCloud, problem);
    } else if (!(problem = imageProblem(options.imagePath)).isEmpty()) {
        return fail(ExitUsage, problem);
    } else if ((image = readImage(options.imagePath, &problem)).isEmpty()) {
        return fail(ExitUsage, problem.isEmpty()
                                   ? QStringLiteral("image \"%1\" cannot be read").arg(options.imagePath)
                                   : problem);
    }
    const UpdateRecord facts = imageFacts(options, image);
    FlashOptions resolved = options;
    if (!options.retryFailed.isEmpty()) {
        resolved.targets =
            FlashHistory::failedTargets(HistoryLocation::fromEnvironment(options.historyUrl),
                                        options.retryFailed, facts, options.usesBroker(), &problem);
        if (!problem.isEmpty())
            return fail(ExitUsage, problem);
        if (resolved.targets.isEmpty()) {
            fprintf(stderr, "plovikkit-flash: every target of run %s succeeded: nothing to do\n",
                    qPrintable(options.retryFailed));
            return ExitSuccess;
        }
    }
    if (options.station) {
        StationFlash station(resolved, facts);
        return station.run(image);
    }
    FleetFlash job(resolved, facts);
    return job.run(image);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGPIPE
    // A reader that goes away must not kill an update half-way: writes then fail instead.
    signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("plovikkit-flash"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PLOVIKKIT_VERSION));
    qInstallMessageHandler(messageHandler);

    const FlashOptions options = FlashOptions::parse(QCoreApplication::arguments());
    // Off, the trace is not even formatted: it would cost more CPU than the update itself.
    // QT_LOGGING_RULES still switches one subsystem's trace on.
    QLoggingCategory::setFilterRules(options.trace
                                         ? QStringLiteral("plovik.*.debug=true")
                                         : QStringLiteral("plovik.*.debug=false\ndefault.debug=false"));
    if (!options.error.isEmpty())
        return fail(ExitUsage, options.error + QStringLiteral(" (see --help)"));
    switch (options.action) {
    case FlashOptions::Action::Exit:
        fputs(options.exitText.toLocal8Bit().constData(), stdout);
        return ExitSuccess;
    case FlashOptions::Action::ListPorts:
        return listPorts();
    case FlashOptions::Action::ListFirmware:
        return listFirmware(options);
    case FlashOptions::Action::History:
        return HistoryCommand::run(options, stdout);
    case FlashOptions::Action::Flash:
        break;
    }
    return flash(options);
}
