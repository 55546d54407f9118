// plovikkit-flash: the window's update engine without the window.
//
// Exit status: 0 when the device confirmed the update; 1 when the update ran and ended
// otherwise; 2 for a usage error or an image that is missing, unreadable or empty; 3 when
// the serial port cannot be opened; 4 when the cloud service fails or refuses.
#include "appversion.h"
#include "clireporter.h"
#include "cloudcommands.h"
#include "deviceaccess.h"
#include "flashoptions.h"
#include "serialchannel.h"
#include "serialportlist.h"
#include "serialupdatelink.h"
#include "updatesession.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <csignal>
#include <cstdio>

namespace {

enum ExitStatus
{
    ExitSuccess = 0,
    ExitUpdateFailed = 1,
    ExitUsage = 2,
    ExitPort = 3,
    ExitCloud = 4
};

bool traceWanted = false;

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg && !traceWanted)
        return;
    fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

int fail(int status, const QString &message)
{
    fprintf(stderr, "plovikkit-flash: %s\n", message.toLocal8Bit().constData());
    return status;
}

int listPorts()
{
    for (const SerialPortEntry &port : SerialPortList::availablePorts())
        printf("%s %s\n", port.name.toLocal8Bit().constData(), port.description.toLocal8Bit().constData());
    return ExitSuccess;
}

// Asks the file system only: opening a FIFO named by mistake would block for ever.
QString imageProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("image \"%1\" does not exist").arg(path);
    const QString problem = UpdateSession::imageFileProblem(path);
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

int flash(const FlashOptions &options)
{
    // A cloud record is downloaded and checked before the port is touched, so a failed or
    // refused download sends nothing to the device.
    QByteArray cloudImage;
    QString problem;
    if (!options.cloudId.isEmpty() &&
        !CloudCommands::downloadFirmware(options.cloudId, &cloudImage, &problem))
        return fail(ExitCloud, problem);
    if (options.cloudId.isEmpty())
        problem = imageProblem(options.imagePath);
    if (!problem.isEmpty())
        return fail(ExitUsage, problem);

    SerialChannel channel;
    channel.port()->setPortName(options.port);
    channel.port()->setBaudRate(options.baudRate);
    channel.setSelectedPortName(options.port);
    if (!channel.openPort())
        return fail(ExitPort,
                    QStringLiteral("cannot open port \"%1\": %2").arg(options.port, channel.lastOpenError()));

    CliReporter reporter(stdout, stderr, DeviceAccess::stderrIsTerminal());
    SerialUpdateLink link(channel, options.target);
    UpdateSession session(link, reporter);
    const UpdateOutcome outcome = options.cloudId.isEmpty()
                                      ? session.run(QFileInfo(options.imagePath).absoluteFilePath(), nullptr)
                                      : session.run(QString(), &cloudImage);
    reporter.finishProgress();
    channel.closePort();
    if (outcome == UpdateOutcome::Success)
        return ExitSuccess;
    if (outcome == UpdateOutcome::EmptyImage)
        return fail(ExitUsage, QStringLiteral("image \"%1\" is empty").arg(options.imagePath));
    return fail(ExitUpdateFailed, session.failureReason());
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
    traceWanted = options.trace;
    // Off, the trace is not even formatted: it would cost more CPU than the update itself.
    QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, traceWanted);
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
    case FlashOptions::Action::Flash:
        break;
    }
    return flash(options);
}
