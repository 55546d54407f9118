#include "flashoptions.h"

#include "gatewaymessages.h"
#include "mqttclient.h"
#include "serialchannel.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

bool parseTarget(const QString &text, TargetKind *target)
{
    if (text == QLatin1String("module"))
        *target = TargetKind::Module;
    else if (text == QLatin1String("demo"))
        *target = TargetKind::DemoBoard;
    else if (text == QLatin1String("gateway"))
        *target = TargetKind::Gateway;
    else
        return false;
    return true;
}

// A password from its option, else from the environment: a command line is readable by every
// user of the machine (/proc/PID/cmdline), the environment only by the same user.
QString secret(const QCommandLineParser &parser, const QString &option, const char *variable)
{
    return parser.isSet(option) ? parser.value(option) : qEnvironmentVariable(variable);
}

QList<QCommandLineOption> brokerOptions()
{
    return {
        {QStringLiteral("mqtt"),
         QStringLiteral("Update through this MQTT broker and a radio gateway instead of a serial port."),
         QStringLiteral("HOST[:PORT]")},
        {QStringLiteral("gateway"), QStringLiteral("The gateway's id (with --mqtt)."), QStringLiteral("ID")},
        {QStringLiteral("mqtt-user"), QStringLiteral("User name at the broker."), QStringLiteral("NAME")},
        {QStringLiteral("mqtt-password"),
         QStringLiteral("Password at the broker (or the environment variable PLOVIKKIT_MQTT_PASSWORD, which "
                        "other users cannot read off the process list)."),
         QStringLiteral("PASSWORD")},
        {QStringLiteral("mqtt-client-id"),
         QStringLiteral("MQTT client id (default: one chosen by the library)."), QStringLiteral("ID")},
        {QStringLiteral("tls"), QStringLiteral("Connect with TLS, trusting the system's certificates.")},
        {QStringLiteral("ca-file"), QStringLiteral("Connect with TLS, trusting the CA certificates in FILE."),
         QStringLiteral("FILE")}};
}

// Empty when the broker options are usable (or absent), else why not.
QString readBrokerOptions(const QCommandLineParser &parser, FlashOptions *options)
{
    if (!parser.isSet(QStringLiteral("mqtt")))
        return QString();
    const QString broker = parser.value(QStringLiteral("mqtt"));
    if (!MqttClient::splitBrokerAddress(broker, &options->mqttHost, &options->mqttPort))
        return QStringLiteral("invalid broker \"%1\": use HOST or HOST:PORT").arg(broker);
    options->gatewayId = parser.value(QStringLiteral("gateway"));
    options->mqttUser = parser.value(QStringLiteral("mqtt-user"));
    options->mqttPassword = secret(parser, QStringLiteral("mqtt-password"), "PLOVIKKIT_MQTT_PASSWORD");
    options->mqttClientId = parser.value(QStringLiteral("mqtt-client-id"));
    options->caFile = parser.value(QStringLiteral("ca-file"));
    options->tls = parser.isSet(QStringLiteral("tls")) || !options->caFile.isEmpty();
    if (!parser.isSet(QStringLiteral("target")))
        options->target = TargetKind::Gateway;
    if (parser.isSet(QStringLiteral("port")))
        return QStringLiteral("give either -p PORT or --mqtt HOST, not both");
    if (!parser.isSet(QStringLiteral("gateway")))
        return QStringLiteral("no gateway id given: use --gateway ID with --mqtt");
    if (options->target == TargetKind::Module)
        return QStringLiteral(
            "a module's boot commands need the serial port: use -t gateway or -t demo with --mqtt");
    return GatewayMessages::gatewayIdProblem(options->gatewayId);
}

// A path relative to the working directory ("./tty", "dev/ttyS1") stands for that file; a bare
// name (ttyUSB0, COM3) is the system's.
QString portPath(const QString &port)
{
    if (!port.contains(QLatin1Char('/')) || QDir::isAbsolutePath(port) || !QFileInfo::exists(port))
        return port;
    return QFileInfo(port).absoluteFilePath();
}

} // namespace

FlashOptions FlashOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a firmware image into a device through its bootloader.\n"
        "The device tells the split length it takes; the last split of the image is filled up with\n"
        "0xFF bytes to a whole split, and the device receives and checks those bytes too."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption({QStringLiteral("p"), QStringLiteral("port")},
                                        QStringLiteral("Serial port: a name as the system lists it (ttyUSB0, "
                                                       "COM3) or a device path."),
                                        QStringLiteral("PORT"));
    const QCommandLineOption baudOption(
        {QStringLiteral("b"), QStringLiteral("baud")},
        QStringLiteral("Baud rate, default 115200, at least %1.").arg(SerialChannel::kMinimumBaudRate),
        QStringLiteral("RATE"), QStringLiteral("115200"));
    const QCommandLineOption targetOption(
        {QStringLiteral("t"), QStringLiteral("target")},
        QStringLiteral("module | demo | gateway (default: module; gateway with --mqtt)."),
        QStringLiteral("KIND"), QStringLiteral("module"));
    const QCommandLineOption listOption(
        QStringLiteral("list-ports"), QStringLiteral("Print one line per port, \"<name> <description>\", and "
                                                     "exit."));
    const QCommandLineOption traceOption(QStringLiteral("trace"),
                                         QStringLiteral("Write the debug trace to stderr."));
    const QCommandLineOption listFirmwareOption(
        QStringLiteral("list-firmware"),
        QStringLiteral("Log in with --account and --password and print the account's cloud catalogue, one "
                       "\"<id>\\t<name>\\t<length>\\t<description>\" line per record."));
    const QCommandLineOption accountOption(QStringLiteral("account"),
                                           QStringLiteral("Cloud account for --list-firmware."),
                                           QStringLiteral("NAME"));
    const QCommandLineOption passwordOption(
        QStringLiteral("password"),
        QStringLiteral("Password of the cloud account (or the environment variable PLOVIKKIT_PASSWORD, which "
                       "other users cannot read off the process list)."),
        QStringLiteral("PW"));
    const QCommandLineOption filterOption(
        QStringLiteral("filter"), QStringLiteral("Keep the records whose name or description contains TEXT."),
        QStringLiteral("TEXT"));
    const QCommandLineOption cloudIdOption(
        QStringLiteral("cloud-id"),
        QStringLiteral("Download catalogue record ID and flash it instead of IMAGE."), QStringLiteral("ID"));
    parser.addOptions({portOption, baudOption, targetOption, listOption, traceOption, listFirmwareOption,
                       accountOption, passwordOption, filterOption, cloudIdOption});
    parser.addOptions(brokerOptions());
    parser.addPositionalArgument(QStringLiteral("IMAGE"),
                                 QStringLiteral("The firmware image (.bin) to write."));

    FlashOptions options;
    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    if (parser.isSet(helpOption) || parser.isSet(versionOption)) {
        options.action = Action::Exit;
        options.exitText = parser.isSet(helpOption)
                               ? parser.helpText()
                               : QCoreApplication::applicationName() + QLatin1Char(' ') +
                                     QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return options;
    }
    options.trace = parser.isSet(traceOption);
    if (parser.isSet(listOption)) {
        options.action = Action::ListPorts;
        return options;
    }
    options.account = parser.value(accountOption);
    options.password = secret(parser, QStringLiteral("password"), "PLOVIKKIT_PASSWORD");
    options.filter = parser.value(filterOption);
    options.cloudId = parser.value(cloudIdOption);
    if (parser.isSet(listFirmwareOption)) {
        options.action = Action::ListFirmware;
        if (options.account.isEmpty() ||
            (!parser.isSet(passwordOption) && !qEnvironmentVariableIsSet("PLOVIKKIT_PASSWORD")))
            options.error = QStringLiteral("--list-firmware needs --account NAME and --password PW");
        return options;
    }
    const int images = parser.positionalArguments().size() + (parser.isSet(cloudIdOption) ? 1 : 0);

    QString brokerProblem;
    bool baudOk = false;
    options.baudRate = parser.value(baudOption).toInt(&baudOk);
    if (!baudOk || options.baudRate <= 0)
        options.error = QStringLiteral("invalid baud rate \"%1\"").arg(parser.value(baudOption));
    else if (!SerialChannel::baudRateProblem(options.baudRate).isEmpty())
        options.error = SerialChannel::baudRateProblem(options.baudRate);
    else if (!parseTarget(parser.value(targetOption), &options.target))
        options.error = QStringLiteral("invalid target \"%1\": use module, demo or gateway")
                            .arg(parser.value(targetOption));
    else if (!(brokerProblem = readBrokerOptions(parser, &options)).isEmpty())
        options.error = brokerProblem;
    else if (!options.usesBroker() && (!parser.isSet(portOption) || parser.value(portOption).isEmpty()))
        options.error = QStringLiteral("no serial port given: use -p PORT (see --list-ports)");
    else if (parser.isSet(cloudIdOption) && options.cloudId.isEmpty())
        options.error = QStringLiteral("--cloud-id needs a record id");
    else if (images > 1 && parser.isSet(cloudIdOption))
        options.error = QStringLiteral("give either an IMAGE file or --cloud-id ID, not both");
    else if (images != 1)
        options.error = QStringLiteral("give exactly one firmware image");
    options.port = portPath(parser.value(portOption));
    options.imagePath = parser.positionalArguments().value(0);
    return options;
}
