#include "cli/flashoptions.h"

#include "cli/terminaltext.h"
#include "mqtt/mqttclient.h"
#include "platform/deviceaccess.h"
#include "platform/portidentity.h"
#include "platform/serialportlist.h"
#include "protocol/gatewaymessages.h"
#include "serial/serialchannel.h"
#include "update/updatesession.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>
#include <climits>

namespace {

// A day: longer would overflow no timer, but no operator means it.
constexpr int kMaxBrokerWaitSeconds = 86400;
// A probe needs the module's two commands and their answers; a minute between two is no station.
constexpr int kMinProbeIntervalMs = 100;
constexpr int kMaxProbeIntervalMs = 60000;
constexpr int kMaxGoneAfter = 100;

// Every option of the flasher: names, help text, value name (empty: a switch).
struct OptionEntry
{
    QStringList names;
    QString help;
    QString valueName;
};

const QList<OptionEntry> &optionTable()
{
    static const QList<OptionEntry> table{
        {{"p", "port"},
         "Serial port: a name as the system lists it (ttyUSB0, COM3), a device path, or serial:SN, the "
         "USB-serial adapter with that serial number, whatever name it has when its update starts. Give "
         "it several times to update several devices at once.",
         "PORT"},
        {{"b", "baud"},
         QStringLiteral("Baud rate, default 115200, at least %1.").arg(SerialChannel::kMinimumBaudRate),
         "RATE"},
        {{"t", "target"},
         "module | demo | gateway (default: module; gateway with --mqtt). With --history: the port or "
         "gateway id whose records to show.",
         "KIND"},
        {{"list-ports"},
         "Print one line per port, \"<name> <description>\", followed by \"serial=SN\" and "
         "\"usb=vvvv:pppp\" where known, and exit.",
         ""},
        {{"trace"}, "Write the debug trace to stderr.", ""},
        {{"list-firmware"},
         "Log in with --account and --password and print the account's cloud catalogue, one "
         "\"<id>\\t<name>\\t<length>\\t<description>\" line per record.",
         ""},
        {{"account"}, "Cloud account for --list-firmware.", "NAME"},
        {{"password"},
         "Password of the cloud account (or the environment variable PLOVIKKIT_PASSWORD, which other users "
         "cannot read off the process list).",
         "PW"},
        {{"filter"}, "Keep the records whose name or description contains TEXT.", "TEXT"},
        {{"cloud-id"}, "Download catalogue record ID (once) and flash it instead of IMAGE.", "ID"},
        {{"mqtt"},
         "Update through this MQTT broker and radio gateways instead of serial ports.",
         "HOST[:PORT]"},
        {{"gateway"},
         "A gateway's id (with --mqtt); give it several times to update several gateways.",
         "ID"},
        {{"targets"},
         "Add the targets listed in FILE (\"-\": standard input), one a line, in UTF-8 (gateway ids with "
         "--mqtt, ports otherwise); blank lines and lines starting with # are skipped.",
         "FILE"},
        {{"parallel"}, "Update at most N targets at the same time (default: all).", "N"},
        {{"canary"}, "Update the first N targets first; the others only when all N succeeded.", "N"},
        {{"max-failures"}, "Once N targets have failed, start no further target.", "N"},
        {{"connect-attempts"},
         QStringLiteral("Ask each device into its bootloader at most N times, 1 to %1 (default %1), before "
                        "giving it up: an offline gateway holds its place that long.")
             .arg(UpdateSession::kConnectAttempts),
         "N"},
        {{"retries"},
         QStringLiteral("Try a target again up to N times, 0 to %1, after 2 s, 4 s, 8 s ..., when the way to "
                        "it failed (no answer, port or broker lost, time-outs); never after a refusal.")
             .arg(FleetPolicy::kMaxRetries),
         "N"},
        {{"skip-done"},
         "Skip a target whose latest record with this image and target kind is a success: a gateway "
         "before anything is sent, a serial device once it has named itself (it waits in its bootloader).",
         ""},
        {{"retry-failed"},
         "Update again exactly the targets of run RUN whose latest record is not a success; IMAGE must be "
         "RUN's image.",
         "RUN"},
        {{"json"}, "Write one JSON object a line to stdout instead of console lines.", ""},
        {{"no-history"}, "Write no update record for this run.", ""},
        {{"history-url"},
         "Keep the update records on this PostgreSQL server, postgresql://USER@HOST:PORT/DB (default: "
         "PLOVIKKIT_HISTORY_URL, else the local store); the password comes from PGPASSWORD or ~/.pgpass.",
         "URL"},
        {{"station-name"}, "The station the records name (default: the host name).", "NAME"},
        {{"history"},
         "Print the update records, newest first: a table, or with --json JSON lines, with --csv CSV. "
         "Filters: -t/--target, --device, --image, --result, --since, --until, --run, --limit.",
         ""},
        {{"device"}, "With --history: the device address (8 hexadecimal digits).", "ADDR"},
        {{"image"}, "With --history: records of this image, a file or its SHA-256.", "FILE|SHA256"},
        {{"result"}, "With --history: success, failed, skipped, stopped, interrupted or running.", "R"},
        {{"since"},
         "With --history: records started at or after DATE (2026-12-09, or a time in UTC).",
         "DATE"},
        {{"until"}, "With --history: records started on or before DATE (a day counts whole).", "DATE"},
        {{"run"}, "With --history: the records of one run.", "ID"},
        {{"limit"}, "With --history: at most N records.", "N"},
        {{"csv"}, "With --history: CSV with a header row.", ""},
        {{"summary"},
         "With --history: per image the devices, success rate and median time; per station "
         "the units and yield.",
         ""},
        {{"mqtt-user"}, "User name at the broker.", "NAME"},
        {{"mqtt-password"},
         "Password at the broker (or the environment variable PLOVIKKIT_MQTT_PASSWORD, which other users "
         "cannot read off the process list).",
         "PASSWORD"},
        {{"mqtt-client-id"}, "MQTT client id (default: one chosen by the library).", "ID"},
        {{"tls"}, "Connect with TLS, trusting the system's certificates.", ""},
        {{"ca-file"}, "Connect with TLS, trusting the CA certificates in FILE.", "FILE"},
        {{"station"},
         "Run a production station: each port given (-p, --targets; none: every serial port that appears "
         "while it runs) is a slot that waits for a device, updates it, records it and waits until it is "
         "gone, then takes the next one; a device this run updated already is not updated again (with "
         "--skip-done, nor one any earlier record has with this image). Ends after --count passed units or "
         "at SIGINT, with the summary. Exit status: 0 when every unit passed (or none ran), 1 when a unit "
         "failed, 3 when no unit ran and no slot's port could ever be opened.",
         ""},
        {{"probe-interval"},
         "With --station: send the boot entry to an empty slot every MS milliseconds (default 1000, 100 to "
         "60000); a demo board announces itself.",
         "MS"},
        {{"gone-after"},
         "With --station: a device is gone after N probes in a row without an answer (default 3, 1 to 100).",
         "N"},
        {{"count"}, "With --station: end after N passed units (default: run until stopped).", "N"},
        {{"broker-wait"},
         "While the broker is down, the targets not yet started wait for it up to S seconds (default 60), "
         "then are skipped.",
         "S"},
    };
    return table;
}

void addOptions(QCommandLineParser &parser)
{
    for (const OptionEntry &entry : optionTable())
        parser.addOption(QCommandLineOption(entry.names, entry.help, entry.valueName));
}

bool mayRepeat(const QString &name)
{
    return name == QLatin1String("p") || name == QLatin1String("port") || name == QLatin1String("gateway");
}

// "--parallel 3 --parallel 5" has no meaning one could guess; only the targets add up.
QString optionGivenTwice(const QCommandLineParser &parser)
{
    QSet<QString> seen;
    for (const QString &name : parser.optionNames()) {
        if (mayRepeat(name))
            continue;
        QStringList aliases{name};
        for (const OptionEntry &entry : optionTable()) {
            if (entry.names.contains(name))
                aliases = entry.names;
        }
        if (seen.contains(aliases.last()))
            return QStringLiteral("--%1 is given more than once").arg(aliases.last());
        seen.insert(aliases.last());
    }
    return QString();
}

QString characterProblem(QChar character)
{
    return QStringLiteral("a control character (U+%1) in a target")
        .arg(QString::number(character.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

// One line of a targets file, read as UTF-8 and nothing else: a line that is no such text
// would become a target nobody meant.
QString decodeTargetLine(QByteArray raw, QString *line)
{
    if (raw.endsWith('\r'))
        raw.chop(1);
    if (raw.contains('\0'))
        return QStringLiteral("a NUL byte (UTF-16 text? save the file as UTF-8)");
    QTextCodec::ConverterState state;
    *line = QTextCodec::codecForName("UTF-8")->toUnicode(raw.constData(), raw.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return QStringLiteral("not UTF-8 text");
    const QChar forbidden = TerminalText::forbiddenCharacter(*line);
    return forbidden.isNull() ? QString() : characterProblem(forbidden);
}

QString decodeTargets(QByteArray content, const QString &source, QStringList *names)
{
    if (content.startsWith("\xFF\xFE") || content.startsWith("\xFE\xFF"))
        return QStringLiteral("%1:1: UTF-16 text: save the file as UTF-8").arg(source);
    if (content.startsWith("\xEF\xBB\xBF"))
        content.remove(0, 3);
    const QList<QByteArray> lines = content.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QString line;
        const QString problem = decodeTargetLine(lines.at(i), &line);
        if (!problem.isEmpty())
            return QStringLiteral("%1:%2: %3").arg(source).arg(i + 1).arg(problem);
        line = line.trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            names->append(line);
    }
    return QString();
}

// At most `limit` bytes, and one more to tell a longer input from one of exactly that size.
QByteArray readBounded(QFile &file, qint64 limit)
{
    QByteArray content;
    while (content.size() <= limit) {
        const QByteArray chunk = file.read(limit + 1 - content.size());
        if (chunk.isEmpty())
            break;
        content += chunk;
    }
    return content;
}

// A password from its option, else from the environment: a command line is readable by every
// user of the machine (/proc/PID/cmdline), the environment only by the same user.
QString secret(const QCommandLineParser &parser, const QString &option, const char *variable)
{
    return parser.isSet(option) ? parser.value(option) : qEnvironmentVariable(variable);
}

// A path relative to the working directory ("./tty", "dev/ttyS1") stands for that file; a bare
// name (ttyUSB0, COM3) is the system's.
QString portPath(const QString &port)
{
    if (!port.contains(QLatin1Char('/')) || QDir::isAbsolutePath(port) || !QFileInfo::exists(port))
        return port;
    return QFileInfo(port).absoluteFilePath();
}

// The first problem the steps name, in their order; the steps after it are not taken.
template <typename... Steps> QString firstProblem(Steps... steps)
{
    QString problem;
    ((problem = problem.isEmpty() ? steps() : problem), ...);
    return problem;
}

// Reads the options into `options`; each step names the first problem it finds.
class Reader
{
public:
    Reader(const QCommandLineParser &parser, FlashOptions &options) : parser(parser), options(options) {}

    QString readFlash()
    {
        return firstProblem([this] { return readStation(); }, [this] { return readLine(); },
                            [this] { return readBroker(); }, [this] { return readTargets(); },
                            [this] { return readFleetPolicy(); }, [this] { return readImage(); },
                            [this] { return readRecording(); });
    }

    QString readHistory()
    {
        options.json = isSet("json");
        options.csv = isSet("csv");
        options.summary = isSet("summary");
        options.historyUrl = value("history-url");
        HistoryQuery &query = options.historyQuery;
        query.target = value("target");
        query.run = value("run");
        if (options.json && options.csv)
            return QStringLiteral("give either --json or --csv, not both");
        if (!parser.positionalArguments().isEmpty())
            return QStringLiteral("--history takes no IMAGE: use --image to choose records by image");
        return firstProblem(
            [&] { return readCount("limit", 1, &query.limit, INT_MAX); },
            [&] { return readDevice(&query.device); }, [&] { return readImageFilter(&query.imageSha256); },
            [&] { return readResult(&query.result); }, [&] { return readDay("since", false, &query.since); },
            [&] { return readDay("until", true, &query.until); });
    }

private:
    bool isSet(const char *name) const { return parser.isSet(QLatin1String(name)); }
    QString value(const char *name) const { return parser.value(QLatin1String(name)); }

    QString readLine()
    {
        bool ok = false;
        const QString baud = isSet("baud") ? value("baud") : QStringLiteral("115200");
        options.baudRate = baud.toInt(&ok);
        if (!ok || options.baudRate <= 0)
            return QStringLiteral("invalid baud rate \"%1\": -b takes a whole number of at least %2")
                .arg(baud)
                .arg(SerialChannel::kMinimumBaudRate);
        if (!SerialChannel::baudRateProblem(options.baudRate).isEmpty())
            return SerialChannel::baudRateProblem(options.baudRate);
        if (isSet("target") && !TargetKindText::parse(value("target"), &options.target))
            return QStringLiteral("invalid target \"%1\": use module, demo or gateway").arg(value("target"));
        return QString();
    }

    // A station takes one device after another on each port; what shapes a batch has no meaning there.
    QString readStation()
    {
        options.station = isSet("station");
        if (!options.station) {
            for (const char *name : {"probe-interval", "gone-after", "count"}) {
                if (isSet(name))
                    return QStringLiteral("--%1 needs --station").arg(QLatin1String(name));
            }
            return QString();
        }
        for (const char *name : {"mqtt", "parallel", "canary", "max-failures", "retries", "retry-failed"}) {
            if (isSet(name))
                return QStringLiteral("--%1 does not go with --station").arg(QLatin1String(name));
        }
        return firstProblem(
            [this] {
                return readCount("probe-interval", kMinProbeIntervalMs, &options.probeIntervalMs,
                                 kMaxProbeIntervalMs);
            },
            [this] { return readCount("gone-after", 1, &options.goneAfter, kMaxGoneAfter); },
            [this] { return readCount("count", 1, &options.stationCount, INT_MAX); });
    }

    QString readBroker()
    {
        if (!isSet("mqtt")) {
            if (isSet("gateway"))
                return QStringLiteral("--gateway needs --mqtt HOST");
            if (isSet("broker-wait"))
                return QStringLiteral("--broker-wait needs --mqtt HOST");
            return QString();
        }
        if (!MqttClient::splitBrokerAddress(value("mqtt"), &options.mqttHost, &options.mqttPort))
            return QStringLiteral("invalid broker \"%1\": use HOST or HOST:PORT").arg(value("mqtt"));
        options.mqttUser = value("mqtt-user");
        options.mqttPassword = secret(parser, QStringLiteral("mqtt-password"), "PLOVIKKIT_MQTT_PASSWORD");
        options.mqttClientId = value("mqtt-client-id");
        options.caFile = value("ca-file");
        options.tls = isSet("tls") || !options.caFile.isEmpty();
        if (isSet("broker-wait")) {
            bool ok = false;
            options.brokerWaitSeconds = value("broker-wait").toInt(&ok);
            if (!ok || options.brokerWaitSeconds < 0 || options.brokerWaitSeconds > kMaxBrokerWaitSeconds)
                return QStringLiteral("invalid --broker-wait \"%1\": use 0 to %2 seconds")
                    .arg(value("broker-wait"))
                    .arg(kMaxBrokerWaitSeconds);
        }
        if (!isSet("target"))
            options.target = TargetKind::Gateway;
        if (isSet("port"))
            return QStringLiteral("give either -p PORT or --mqtt HOST, not both");
        if (options.target == TargetKind::Module)
            return QStringLiteral(
                "a module's boot commands need the serial port: use -t gateway or -t demo with --mqtt");
        return QString();
    }

    QString readTargets()
    {
        QStringList names = parser.values(QLatin1String(options.usesBroker() ? "gateway" : "port"));
        if (isSet("targets")) {
            const QString problem = readTargetsFile(value("targets"), &names);
            if (!problem.isEmpty())
                return problem;
        }
        // The run's record names the targets to try again.
        if (isSet("retry-failed"))
            return names.isEmpty() ? QString()
                                   : QStringLiteral("give either targets or --retry-failed RUN, not both");
        if (names.isEmpty() && options.station)
            return QString();
        if (names.isEmpty())
            return options.usesBroker()
                       ? QStringLiteral("no gateway id given: use --gateway ID with --mqtt")
                       : QStringLiteral("no serial port given: use -p PORT (see --list-ports)");
        if (names.size() > FlashOptions::kMaxTargets)
            return QStringLiteral("too many targets: %1, at most %2")
                .arg(names.size())
                .arg(FlashOptions::kMaxTargets);
        for (const QString &name : qAsConst(names)) {
            const QChar forbidden = TerminalText::forbiddenCharacter(name);
            if (!forbidden.isNull())
                return QStringLiteral("\"%1\": %2")
                    .arg(TerminalText::escaped(name), characterProblem(forbidden));
            const QString problem = targetProblem(name);
            if (!problem.isEmpty())
                return problem;
        }
        const QString twice = namedTwice(names);
        if (!twice.isEmpty())
            return QStringLiteral("target \"%1\" is named twice").arg(twice);
        for (const QString &name : qAsConst(names))
            options.targets << (options.usesBroker() ? name : portPath(name));
        return QString();
    }

    QString targetProblem(const QString &name) const
    {
        if (options.usesBroker())
            return GatewayMessages::gatewayIdProblem(name);
        if (name.isEmpty())
            return QStringLiteral("no serial port given: an empty port name");
        // Whether an adapter holds it is asked when its update starts; a name without one is wrong now.
        if (name == QLatin1String("serial:"))
            return QStringLiteral("\"serial:\" names no serial number: serial:SN");
        return QString();
    }

    // Two names of one device are one target: compared by the device the serial channel will
    // open (a bare name is the system's, under /dev), after its links are followed. A serial
    // number is the adapter holding it now; one that none or several hold is only its own name.
    static QString deviceKey(const QString &name)
    {
        QString resolved;
        QString unresolved;
        if (PortIdentity::namesSerialNumber(name))
            return PortIdentity::resolve(name, &resolved, &unresolved) ? deviceKey(resolved) : name;
        const QString location = SerialPortList::devicePath(portPath(name));
        if (location.isEmpty())
            return name;
        const QString identity = DeviceAccess::deviceIdentity(location);
        return identity.isEmpty() ? QDir::cleanPath(location) : identity;
    }

    QString namedTwice(const QStringList &names) const
    {
        QSet<QString> seen;
        for (const QString &name : names) {
            const QString key = options.usesBroker() ? name : deviceKey(name);
            if (seen.contains(key))
                return name;
            seen.insert(key);
        }
        return QString();
    }

    static QString readTargetsFile(const QString &path, QStringList *names)
    {
        QFile file(path);
        const bool standardInput = path == QLatin1String("-");
        const QString source = standardInput ? QStringLiteral("standard input") : path;
        const bool opened = standardInput ? file.open(stdin, QIODevice::ReadOnly)
                                          : QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly);
        if (!opened)
            return QStringLiteral("cannot read the targets file \"%1\"").arg(path);
        const QByteArray content = readBounded(file, FlashOptions::kMaxTargetsFileBytes);
        if (content.size() > FlashOptions::kMaxTargetsFileBytes)
            return QStringLiteral("the targets in %1 are too large: more than %2 bytes")
                .arg(source)
                .arg(FlashOptions::kMaxTargetsFileBytes);
        return decodeTargets(content, source, names);
    }

    QString readCount(const char *name, int minimum, int *out, int maximum = FlashOptions::kMaxTargets) const
    {
        if (!isSet(name))
            return QString();
        bool ok = false;
        *out = value(name).toInt(&ok);
        if (!ok || *out < minimum || *out > maximum)
            return QStringLiteral("invalid --%1 \"%2\": --%1 takes %3 to %4")
                .arg(QLatin1String(name), value(name))
                .arg(minimum)
                .arg(maximum);
        return QString();
    }

    QString readFleetPolicy()
    {
        options.json = isSet("json");
        return firstProblem(
            [this] { return readCount("parallel", 1, &options.policy.parallel); },
            [this] { return readCount("canary", 0, &options.policy.canary); },
            [this] { return readCount("max-failures", 1, &options.policy.maxFailures); },
            [this] { return readConnectAttempts(); },
            [this] { return readCount("retries", 0, &options.policy.retries, FleetPolicy::kMaxRetries); });
    }

    QString readRecording()
    {
        options.noHistory = isSet("no-history");
        options.historyUrl = value("history-url");
        options.stationName = value("station-name");
        options.skipDone = isSet("skip-done");
        options.retryFailed = value("retry-failed");
        for (const char *filter :
             {"device", "image", "result", "since", "until", "run", "limit", "csv", "summary"}) {
            if (isSet(filter))
                return QStringLiteral("--%1 needs --history").arg(QLatin1String(filter));
        }
        if (isSet("retry-failed") && options.retryFailed.isEmpty())
            return QStringLiteral("--retry-failed needs a run id");
        if (isSet("station-name") && options.stationName.trimmed().isEmpty())
            return QStringLiteral("--station-name needs a name");
        return QString();
    }

    // 1 to 8 hexadecimal digits, kept as the record writes them: 8 upper-case ones.
    QString readDevice(QString *device) const
    {
        if (!isSet("device"))
            return QString();
        bool ok = false;
        const QString text = value("device");
        const uint address = text.toUInt(&ok, 16);
        if (!ok || text.size() > 8)
            return QStringLiteral("invalid --device \"%1\": give the address as 8 hexadecimal digits")
                .arg(text);
        *device = QStringLiteral("%1").arg(address, 8, 16, QLatin1Char('0')).toUpper();
        return QString();
    }

    QString readImageFilter(QString *sha256) const
    {
        if (!isSet("image"))
            return QString();
        const QString text = value("image");
        static const QRegularExpression hex64(QStringLiteral("^[0-9a-fA-F]{64}$"));
        if (hex64.match(text).hasMatch() && !QFileInfo::exists(text)) {
            *sha256 = text.toLower();
            return QString();
        }
        QFile file(text);
        if (!QFileInfo(text).isFile() || !file.open(QIODevice::ReadOnly))
            return QStringLiteral("--image \"%1\" is neither a readable file nor a SHA-256").arg(text);
        QCryptographicHash hash(QCryptographicHash::Sha256);
        hash.addData(&file);
        *sha256 = QString::fromLatin1(hash.result().toHex());
        return QString();
    }

    QString readResult(QString *result) const
    {
        static const QStringList results{"success", "failed", "skipped", "stopped", "interrupted", "running"};
        *result = value("result");
        if (isSet("result") && !results.contains(*result))
            return QStringLiteral("invalid --result \"%1\": use %2")
                .arg(*result, results.join(QStringLiteral(", ")));
        return QString();
    }

    // A day (2026-12-09) stands for all of it; a time without a zone is UTC.
    QString readDay(const char *name, bool endOfDay, QDateTime *out) const
    {
        if (!isSet(name))
            return QString();
        const QString text = value(name);
        const QDate day = QDate::fromString(text, Qt::ISODate);
        if (day.isValid() && text.size() == 10) {
            *out = QDateTime(endOfDay ? day.addDays(1) : day, QTime(0, 0), Qt::UTC);
            if (endOfDay)
                *out = out->addMSecs(-1);
            return QString();
        }
        QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!time.isValid())
            return QStringLiteral(
                       "invalid --%1 \"%2\": give a day (2026-12-09) or a time (2026-12-09T13:16:27Z)")
                .arg(QLatin1String(name), text);
        if (time.timeSpec() == Qt::LocalTime)
            time.setTimeSpec(Qt::UTC);
        *out = time.toUTC();
        return QString();
    }

    QString readConnectAttempts() const
    {
        if (!isSet("connect-attempts"))
            return QString();
        bool ok = false;
        const int attempts = value("connect-attempts").toInt(&ok);
        if (!ok || attempts < 1 || attempts > UpdateSession::kConnectAttempts)
            return QStringLiteral("invalid --connect-attempts \"%1\": give 1 to %2")
                .arg(value("connect-attempts"))
                .arg(UpdateSession::kConnectAttempts);
        options.policy.connectAttempts = attempts;
        return QString();
    }

    QString readImage()
    {
        options.cloudId = value("cloud-id");
        options.imagePath = parser.positionalArguments().value(0);
        const int images = parser.positionalArguments().size() + (isSet("cloud-id") ? 1 : 0);
        if (isSet("cloud-id") && options.cloudId.isEmpty())
            return QStringLiteral("--cloud-id needs a record id");
        if (images > 1 && isSet("cloud-id"))
            return QStringLiteral("give either an IMAGE file or --cloud-id ID, not both");
        if (images != 1)
            return QStringLiteral("give exactly one firmware image");
        return QString();
    }

    const QCommandLineParser &parser;
    FlashOptions &options;
};

QString helpDescription()
{
    return QStringLiteral(
        "Writes a firmware image into devices through their bootloader.\n"
        "The device tells the split length it takes; the last split of the image is filled up with\n"
        "0xFF bytes to a whole split, and the device receives and checks those bytes too.\n"
        "Several targets are updated at once, each with the same image and target kind.");
}

} // namespace

FlashOptions FlashOptions::parse(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(helpDescription());
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    addOptions(parser);
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
    options.error = optionGivenTwice(parser);
    if (!options.error.isEmpty())
        return options;
    options.trace = parser.isSet(QStringLiteral("trace"));
    if (parser.isSet(QStringLiteral("list-ports"))) {
        options.action = Action::ListPorts;
        return options;
    }
    options.account = parser.value(QStringLiteral("account"));
    options.password = secret(parser, QStringLiteral("password"), "PLOVIKKIT_PASSWORD");
    options.filter = parser.value(QStringLiteral("filter"));
    if (parser.isSet(QStringLiteral("list-firmware"))) {
        options.action = Action::ListFirmware;
        if (options.account.isEmpty() ||
            (!parser.isSet(QStringLiteral("password")) && !qEnvironmentVariableIsSet("PLOVIKKIT_PASSWORD")))
            options.error = QStringLiteral("--list-firmware needs --account NAME and --password PW");
        return options;
    }
    if (parser.isSet(QStringLiteral("history"))) {
        options.action = Action::History;
        options.error = Reader(parser, options).readHistory();
        return options;
    }
    options.error = Reader(parser, options).readFlash();
    return options;
}
