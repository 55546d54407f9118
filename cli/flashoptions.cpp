#include "flashoptions.h"

#include "gatewaymessages.h"
#include "mqttclient.h"
#include "serialchannel.h"

#include <QCommandLineParser>
#include <QCoreApplication>

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

QList<QCommandLineOption> brokerOptions()
{
    return {
        {QStringLiteral("mqtt"),
         QStringLiteral("Update through this MQTT broker and a radio gateway instead of a serial port."),
         QStringLiteral("HOST[:PORT]")},
        {QStringLiteral("gateway"), QStringLiteral("The gateway's id (with --mqtt)."), QStringLiteral("ID")},
        {QStringLiteral("mqtt-user"), QStringLiteral("User name at the broker."), QStringLiteral("NAME")},
        {QStringLiteral("mqtt-password"), QStringLiteral("Password at the broker."),
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
    options->mqttPassword = parser.value(QStringLiteral("mqtt-password"));
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

} // namespace

FlashOptions FlashOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a firmware image into a device through its bootloader."));
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
    parser.addOptions({portOption, baudOption, targetOption, listOption, traceOption});
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

    bool baudOk = false;
    QString brokerProblem;
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
    else if (parser.positionalArguments().size() != 1)
        options.error = QStringLiteral("give exactly one firmware image");
    options.port = parser.value(portOption);
    options.imagePath = parser.positionalArguments().value(0);
    return options;
}
