// plovikkit-flash: the window's update engine without the window.
//
// Exit status: 0 when the device confirmed the update; 1 when the update ran and ended
// otherwise; 2 for a usage error or an image that is missing, unreadable or empty; 3 when
// the serial port cannot be opened or the MQTT broker cannot be reached; 4 when the cloud
// service fails or refuses.
#include "appversion.h"
#include "clireporter.h"
#include "cloudcommands.h"
#include "deviceaccess.h"
#include "eventwait.h"
#include "firmwareimage.h"
#include "flashoptions.h"
#include "gatewaymessages.h"
#include "gatewayrouter.h"
#include "gatewayupdatelink.h"
#include "mqttclient.h"
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

// A broker that has not answered by then is taken as unreachable.
constexpr int kBrokerConnectMs = 10000;

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

// The image to send: the local file, or a cloud record already downloaded into `cloudImage`.
struct Image
{
    QString path;
    QByteArray cloudImage;
};

int runUpdate(UpdateLink &link, CliReporter &reporter, const Image &image)
{
    UpdateSession session(link, reporter);
    QByteArray bytes = image.cloudImage;
    QString problem;
    if (bytes.isEmpty()) {
        reporter.consoleLine(QStringLiteral("use nation firmware"));
        FirmwareImage::read(QFileInfo(image.path).absoluteFilePath(), &bytes, &problem);
        if (!problem.isEmpty())
            reporter.consoleLine(problem);
    } else {
        reporter.consoleLine(QStringLiteral("use netserver firmware"));
    }
    const UpdateOutcome outcome = session.run(bytes);
    reporter.finishProgress();
    if (outcome == UpdateOutcome::Success)
        return ExitSuccess;
    if (outcome == UpdateOutcome::EmptyImage)
        return fail(ExitUsage, QStringLiteral("image \"%1\" is empty").arg(image.path));
    return fail(ExitUpdateFailed, session.failureReason());
}

QString connectToBroker(MqttClient &client, const FlashOptions &options)
{
    client.setHostname(options.mqttHost);
    client.setPort(options.mqttPort);
    client.setClientId(options.mqttClientId);
    client.setUsername(options.mqttUser);
    client.setPassword(options.mqttPassword);
    client.setTls(options.tls, options.caFile);
    client.connectToHost();
    EventWait::waitUntil([&client] { return client.state() != MqttClient::Connecting; }, kBrokerConnectMs);
    if (client.state() == MqttClient::Connected)
        return QString();
    return client.state() == MqttClient::Connecting
               ? QStringLiteral("no answer within %1 s").arg(kBrokerConnectMs / 1000)
               : client.errorString();
}

// Subscribes the gateway's answer topics and waits for the broker to grant them: a refusal
// (an access list) would otherwise look like a device that never answers.
QString subscribeGateway(MqttClient &client, const QString &gatewayId)
{
    const QStringList topics = GatewayMessages::subscriptionTopics(gatewayId);
    QStringList pending = topics;
    QString refused;
    const QMetaObject::Connection answers =
        QObject::connect(&client, &MqttClient::subscribed, [&](const QString &topic, bool granted) {
            pending.removeAll(topic);
            if (!granted && refused.isEmpty())
                refused = topic;
        });
    for (const QString &topic : topics)
        client.subscribe(topic);
    EventWait::waitUntil(
        [&] { return pending.isEmpty() || !refused.isEmpty() || client.state() != MqttClient::Connected; },
        kBrokerConnectMs);
    QObject::disconnect(answers);
    if (!refused.isEmpty())
        return QStringLiteral("the broker refused the subscription to %1").arg(refused);
    if (client.state() != MqttClient::Connected)
        return client.errorString();
    if (!pending.isEmpty())
        return QStringLiteral("the broker did not confirm the subscriptions within %1 s")
            .arg(kBrokerConnectMs / 1000);
    return QString();
}

int flashThroughBroker(const FlashOptions &options, const Image &image)
{
    MqttClient client;
    const QString problem = connectToBroker(client, options);
    if (!problem.isEmpty())
        return fail(ExitPort, QStringLiteral("cannot connect to the MQTT broker %1:%2: %3")
                                  .arg(options.mqttHost)
                                  .arg(options.mqttPort)
                                  .arg(problem));
    const QString subscriptionProblem = subscribeGateway(client, options.gatewayId);
    if (!subscriptionProblem.isEmpty())
        return fail(ExitPort, QStringLiteral("MQTT broker %1:%2: %3")
                                  .arg(options.mqttHost)
                                  .arg(options.mqttPort)
                                  .arg(subscriptionProblem));
    CliReporter reporter(stdout, stderr, DeviceAccess::stderrIsTerminal());
    GatewayRouter router(client);
    GatewayUpdateLink link(router, options.gatewayId, options.target);
    link.setConsole([&reporter](const QString &text) { reporter.consoleLine(text); });
    const int status = runUpdate(link, reporter, image);
    client.disconnectFromHost();
    return status;
}

int flashThroughSerialPort(const FlashOptions &options, const Image &image)
{
    SerialChannel channel;
    channel.port()->setPortName(options.port);
    channel.setBaudRate(options.baudRate);
    channel.setSelectedPortName(options.port);
    if (!channel.openPort())
        return fail(ExitPort,
                    QStringLiteral("cannot open port \"%1\": %2").arg(options.port, channel.lastOpenError()));
    CliReporter reporter(stdout, stderr, DeviceAccess::stderrIsTerminal());
    SerialUpdateLink link(channel, options.target);
    const int status = runUpdate(link, reporter, image);
    channel.closePort();
    return status;
}

int flash(const FlashOptions &options)
{
    // A cloud record is downloaded and checked before the device is touched, so a failed or
    // refused download sends nothing to the device.
    Image image{options.imagePath, QByteArray()};
    QString problem;
    if (!options.cloudId.isEmpty()) {
        if (!CloudCommands::downloadFirmware(options.cloudId, &image.cloudImage, &problem))
            return fail(ExitCloud, problem);
    } else if (!(problem = imageProblem(options.imagePath)).isEmpty()) {
        return fail(ExitUsage, problem);
    }
    return options.usesBroker() ? flashThroughBroker(options, image) : flashThroughSerialPort(options, image);
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
