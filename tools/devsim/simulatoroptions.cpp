#include "tools/devsim/simulatoroptions.h"

#include "protocol/gatewaymessages.h"

#include "mqtt/mqttclient.h"

#include <QCommandLineParser>

namespace {

constexpr int kMaxGateways = 10000;
constexpr int kMaxPorts = 512;
constexpr int kMaxBenchDevices = 1000000;
const QLatin1String kNamePlaceholder("{}");

bool readNumber(const QString &text, int base, qint64 min, qint64 max, qint64 *out)
{
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok, base);
    if (!ok || value < min || value > max)
        return false;
    *out = value;
    return true;
}

// Reads one option; leaves `target` alone when the option is absent.
template <typename T>
bool readOption(const QCommandLineParser &parser, const QString &name, int base, qint64 min, qint64 max,
                T *target, QString *error)
{
    if (!parser.isSet(name))
        return true;
    qint64 value = 0;
    if (!readNumber(parser.value(name), base, min, max, &value)) {
        *error = QStringLiteral("--%1: '%2' is not a %3 number from %4 to %5")
                     .arg(name, parser.value(name),
                          base == 16 ? QStringLiteral("hexadecimal") : QStringLiteral("decimal"))
                     .arg(QString::number(min, base), QString::number(max, base));
        return false;
    }
    *target = T(value);
    return true;
}

bool readFrameNumbers(const QCommandLineParser &parser, const QString &name, QSet<int> *out, QString *error)
{
    for (const QString &text : parser.values(name)) {
        qint64 value = 0;
        if (!readNumber(text, 10, 1, INT32_MAX, &value)) {
            *error = QStringLiteral("--%1: '%2' is not a frame number (counted from 1)").arg(name, text);
            return false;
        }
        out->insert(int(value));
    }
    return true;
}

bool readTarget(const QCommandLineParser &parser, TargetKind *out, QString *error)
{
    if (!parser.isSet(QStringLiteral("target")))
        return true;
    const QString text = parser.value(QStringLiteral("target"));
    if (TargetKindText::parse(text, out))
        return true;
    *error = QStringLiteral("--target: '%1' is not one of module, demo, gateway").arg(text);
    return false;
}

bool refuseRepeats(const QString &option, const QStringList &values, QString *error)
{
    QSet<QString> seen;
    for (const QString &value : values) {
        if (seen.contains(value)) {
            *error = QStringLiteral("--%1: %2 is given twice").arg(option, value);
            return false;
        }
        seen.insert(value);
    }
    return true;
}

// The named gateways first, then the counted ones: PREFIX1 to PREFIXN.
bool readGatewayIds(const QCommandLineParser &parser, QStringList *ids, QString *error)
{
    *ids = parser.values("gateway");
    int count = 0;
    if (!readOption(parser, "gateways", 10, 1, kMaxGateways, &count, error))
        return false;
    const QString prefix =
        parser.isSet("gateway-prefix") ? parser.value("gateway-prefix") : QStringLiteral("GW");
    for (int i = 1; i <= count; ++i)
        ids->append(prefix + QString::number(i));
    if (ids->isEmpty()) {
        *error = QStringLiteral("--gateway: give the gateway id (or --gateways)");
        return false;
    }
    for (const QString &id : qAsConst(*ids)) {
        const QString problem = GatewayMessages::gatewayIdProblem(id);
        if (!problem.isEmpty()) {
            *error = QStringLiteral("--gateway: ") + problem;
            return false;
        }
    }
    return refuseRepeats("gateway", *ids, error);
}

bool readGateway(const QCommandLineParser &parser, SimulatorOptions *out, QString *error)
{
    if (!parser.isSet("mqtt")) {
        if (parser.isSet("gateways") || parser.isSet("gateway-prefix"))
            *error = QStringLiteral("--gateways: only with --mqtt");
        return error->isEmpty();
    }
    if (parser.isSet("ports")) {
        *error = QStringLiteral("--ports: not with --mqtt");
        return false;
    }
    if (!MqttClient::splitBrokerAddress(parser.value("mqtt"), &out->mqttHost, &out->mqttPort)) {
        *error = QStringLiteral("--mqtt: '%1' is not HOST or HOST:PORT").arg(parser.value("mqtt"));
        return false;
    }
    if (!readGatewayIds(parser, &out->gatewayIds, error))
        return false;
    if (!parser.isSet("target"))
        out->target = TargetKind::Gateway;
    out->chatterBeforeReplies = parser.isSet("chatter-replies");
    return true;
}

bool readPorts(const QCommandLineParser &parser, SimulatorOptions *out, QString *error)
{
    out->linkPaths = parser.values("link");
    out->portCount = qMax(1, out->linkPaths.size());
    if (!readOption(parser, "ports", 10, 1, kMaxPorts, &out->portCount, error))
        return false;
    if (out->linkPaths.size() > out->portCount) {
        *error = QStringLiteral("--link: given %1 times for %2 ports")
                     .arg(out->linkPaths.size())
                     .arg(out->portCount);
        return false;
    }
    return refuseRepeats("link", out->linkPaths, error);
}

// The bench options make sense only for devices that come and go, and those sit on ptys.
bool readBench(const QCommandLineParser &parser, SimulatorOptions *out, QString *error)
{
    if (!parser.isSet("devices")) {
        for (const char *option : {"arrive-after", "stay", "exit-when-done"}) {
            if (parser.isSet(option)) {
                *error = QStringLiteral("--%1: only with --devices").arg(QLatin1String(option));
                return false;
            }
        }
        return true;
    }
    if (!out->mqttHost.isEmpty()) {
        *error = QStringLiteral("--devices: not with --mqtt");
        return false;
    }
    out->exitWhenDone = parser.isSet("exit-when-done");
    return readOption(parser, "devices", 10, 1, kMaxBenchDevices, &out->devicesPerPort, error) &&
           readOption(parser, "arrive-after", 10, 0, INT32_MAX, &out->arriveAfterMs, error) &&
           readOption(parser, "stay", 10, 0, INT32_MAX, &out->stayMs, error);
}

// Devices that shared one file would overwrite each other's image.
bool readOutput(const QCommandLineParser &parser, SimulatorOptions *out, QString *error)
{
    out->outputPath = parser.value("output");
    if (out->deviceCount() > 1 && !out->outputPath.isEmpty() && !out->outputPath.contains(kNamePlaceholder)) {
        *error = QStringLiteral("--output: with %1 devices the file name needs {} for each device's name")
                     .arg(out->deviceCount());
        return false;
    }
    return true;
}

} // namespace

void SimulatorOptions::addTo(QCommandLineParser *parser)
{
    parser->addOptions({
        {"target",
         "Target kind: module (waits for the two module commands), demo (sends SPLIT LEN on its "
         "own) or gateway (waits for the gateway boot text). Default module.",
         "kind"},
        {"split-len", "splitLen of the SPLIT LEN request, bytes (default 1024).", "n"},
        {"uart-len", "uartLen of the SPLIT LEN request, bytes (default 128).", "n"},
        {"over-delay", "overDelay of the SPLIT LEN request, ms (default 10).", "ms"},
        {"device-addr", "deviceAddr of the SPLIT LEN request, hexadecimal (default 12345678).", "hex"},
        {"output",
         "Write the received image (exactly the FIRMWARE LEN bytes) to this file at FIRMWARE OVER. With "
         "several devices the name must hold {}, which stands for the device's name: its gateway id, or "
         "its port's number.",
         "file"},
        {"link",
         "Make a symlink at this path to the pty (removed at exit). May repeat: the first names port 1, "
         "the next port 2, and so on.",
         "path"},
        {"ports",
         "Open this many ptys, numbered from 1, each an independent device (default: one, or one per "
         "--link; 1 to 512).",
         "n"},
        {"demo-delay", "Demo target: first SPLIT LEN this many ms after start (default 500).", "ms"},
        {"demo-repeat", "Demo target: repeat SPLIT LEN every this many ms until FIRMWARE LEN (default 1500).",
         "ms"},
        {"restart-delay",
         "After a RETURN FAIL without bit 7 the device restarts and sends SPLIT LEN again after this many ms "
         "(default 200); a negative value keeps it quiet.",
         "ms"},
        {"drop-reply", "Treat frame N as lost: neither handled nor answered. May repeat.", "n"},
        {"fail-frame", "Answer frame N with RETURN FAIL and --fail-code, without handling it. May repeat.",
         "n"},
        {"fail-code",
         "Return byte for --fail-frame, hexadecimal (default 02; 85 makes the tool rewind the "
         "split).",
         "hex"},
        {"garbage-frame", "Answer frame N with five random bytes that are no valid frame. May repeat.", "n"},
        {"silent", "Never send anything, not even SPLIT LEN."},
        {"module-answers",
         "Module target: answer each of the two module commands with 03 <command> 00 <crc8>, as a "
         "module in config mode acknowledges a command, before the bootloader starts."},
        {"reply-delay", "Delay everything the device sends by this many ms (default 0).", "ms"},
        {"latency",
         "A radio hop between the device and the gateway (or the pty): everything the device sends "
         "reaches the broker (or the pty) this many ms later, in the order sent; frames to the device "
         "are not delayed (default 0).",
         "ms"},
        {"baud",
         "Pace the line at this rate in both directions, 10 bits a byte: the device sends no faster, "
         "and takes in each byte the tool writes only once it would have finished arriving, queued "
         "behind the bytes before it, so a frame is handled when its last byte is in "
         "(default: unpaced).",
         "rate"},
        {"over-reply", "Answer FIRMWARE OVER with this command byte (hexadecimal) instead of RETURN SUCCESS.",
         "hex"},
        {"summary",
         "Print a summary line per device on stderr at exit; with several devices, then a last line "
         "\"summary: devices=N succeeded=M\". With --devices, one line per device that arrived, see "
         "above."},
        {"devices",
         "Bench: each pty is a fixture that this many devices pass, one at a time (1 to 1000000). "
         "Port p's device k (both from 1) is named p.k and announces the address --device-addr + "
         "(p - 1) * N + k - 1 (hexadecimal, modulo 2^32).",
         "n"},
        {"arrive-after",
         "Bench: a device arrives this many ms after the previous one left; the first one this many "
         "ms after start (default 500).",
         "ms"},
        {"stay",
         "Bench: a device leaves this many ms after its update ended, success or failure (default 1000).",
         "ms"},
        {"exit-when-done",
         "Bench: exit with status 0 a second after every port's devices have left (so that the tool "
         "can still read the last answers)."},
        {"mqtt",
         "Gateway mode: sit behind a radio gateway on this MQTT broker instead of a pty (target gateway "
         "unless --target says otherwise).",
         "host[:port]"},
        {"gateway", "Gateway mode: a gateway's id. May repeat: one gateway per id, all on one connection.",
         "id"},
        {"gateways",
         "Gateway mode: add this many gateways, named by --gateway-prefix and their number from 1 (after "
         "those of --gateway; 1 to 10000).",
         "n"},
        {"gateway-prefix", "Gateway mode: the name of the --gateways before their number (default GW).",
         "prefix"},
        {"chatter", "Gateway mode: publish an unrelated login, ping or property message every this many ms.",
         "ms"},
        {"chatter-replies", "Gateway mode: publish an unrelated message right before every answer."},
    });
}

bool SimulatorOptions::read(const QCommandLineParser &parser, SimulatorOptions *out, QString *error)
{
    SimulatorOptions options;
    if (!readTarget(parser, &options.target, error) ||
        !readOption(parser, "split-len", 10, 1, 0xFFFF, &options.splitLen, error) ||
        !readOption(parser, "uart-len", 10, 1, 0xFFFF - 8, &options.uartLen, error) ||
        !readOption(parser, "over-delay", 10, 0, 0xFFFF, &options.overDelay, error) ||
        !readOption(parser, "device-addr", 16, 0, 0xFFFFFFFFLL, &options.deviceAddr, error) ||
        !readOption(parser, "demo-delay", 10, 0, INT32_MAX, &options.demoDelayMs, error) ||
        !readOption(parser, "demo-repeat", 10, 1, INT32_MAX, &options.demoRepeatMs, error) ||
        !readOption(parser, "restart-delay", 10, INT32_MIN, INT32_MAX, &options.restartDelayMs, error) ||
        !readOption(parser, "fail-code", 16, 0, 0xFF, &options.failCode, error) ||
        !readOption(parser, "reply-delay", 10, 0, INT32_MAX, &options.replyDelayMs, error) ||
        !readOption(parser, "latency", 10, 0, INT32_MAX, &options.latencyMs, error) ||
        !readOption(parser, "baud", 10, 1, 100000000, &options.baudRate, error) ||
        !readOption(parser, "over-reply", 16, 0, 0xFF, &options.overReply, error) ||
        !readOption(parser, "chatter", 10, 0, INT32_MAX, &options.chatterMs, error) ||
        !readGateway(parser, &options, error) || !readPorts(parser, &options, error) ||
        !readBench(parser, &options, error) || !readOutput(parser, &options, error) ||
        !readFrameNumbers(parser, "drop-reply", &options.dropReplyFrames, error) ||
        !readFrameNumbers(parser, "fail-frame", &options.failFrames, error) ||
        !readFrameNumbers(parser, "garbage-frame", &options.garbageFrames, error))
        return false;
    options.silent = parser.isSet("silent");
    options.moduleAnswers = parser.isSet("module-answers");
    options.summary = parser.isSet("summary");
    *out = options;
    return true;
}

QString SimulatorOptions::helpText()
{
    return QStringLiteral(
        "Simulated bootloaders of plovik devices behind ptys, or behind radio gateways on an MQTT\n"
        "broker (--mqtt). Each pty (--ports, --link) or gateway (--gateway, --gateways) is a device\n"
        "of its own with its own state; all gateways share one broker connection.\n"
        "\n"
        "Once every pty is open, stdout has one line \"pty: <slave path>\" per port, in port\n"
        "order; once the broker has confirmed the subscriptions of every gateway, one line\n"
        "\"gateway: <id>\" per gateway, in the order given. Every device listens from then on. A\n"
        "log line per frame goes to stderr, with \"[<name>] \" in front when there are several\n"
        "devices; a device's name is its gateway id or its port's number.\n"
        "\n"
        "Every option applies to each device alike. Frame numbers (for --drop-reply, --fail-frame,\n"
        "--garbage-frame) count every complete FIRMWARE LEN, FIRMWARE PACKET, FIRMWARE CHECK and\n"
        "FIRMWARE OVER frame a device receives from 1 in arrival order, whether its CRC holds or\n"
        "not, repeats and frames after a restart included, over the whole life of the process.\n"
        "Boot entry commands and other frames are not counted. A frame hit by an injection is not\n"
        "handled, so the device expects it again; after a RETURN FAIL without bit 7 (injected or\n"
        "real) the device restarts its SPLIT LEN request. When one frame has several injections,\n"
        "--silent wins, then --drop-reply, then --garbage-frame, then --fail-frame.\n"
        "\n"
        "Bench (--devices N): devices come and go on each pty, one at a time, each with a fresh\n"
        "bootloader and its own address; while no device is there the pty answers nothing. A demo\n"
        "board announces itself (--demo-delay, --demo-repeat) and after its success says nothing\n"
        "more; a module answers the boot entry, after its success too (its new firmware), with\n"
        "the same address. An update begins with a FIRMWARE LEN and ends with the device's RETURN\n"
        "SUCCESS, or as failed after 6 s without a FIRMWARE LEN, PACKET, CHECK or OVER frame, or\n"
        "when the device leaves during it. Frame numbers count per device. stderr says when a device\n"
        "arrives, begins and ends an update, and leaves; with --summary, at exit, one line per\n"
        "device that arrived:\n"
        "  unit: port=P device=ADDR result=R seconds=S arrived=A to-first-frame=F left=L\n"
        "        updates=U more-than-once=yes|no\n"
        "R is success, failed, updating (at exit) or none (never updated); S the time of its first\n"
        "update, A and L seconds since start (L -1 while it is there), F from arrival to its first\n"
        "FIRMWARE LEN (-1: none); then \"summary: devices=N succeeded=M failed=F more-than-once=T\".");
}

QStringList SimulatorOptions::portNames() const
{
    QStringList names;
    for (int port = 1; port <= portCount; ++port)
        names.append(QString::number(port));
    return names;
}

SimulatorOptions SimulatorOptions::forDevice(const QString &name) const
{
    SimulatorOptions options = *this;
    options.outputPath.replace(kNamePlaceholder, name);
    return options;
}

QString SimulatorOptions::benchDeviceName(int port, int number)
{
    return QStringLiteral("%1.%2").arg(port).arg(number);
}

uint32_t SimulatorOptions::benchDeviceAddr(int port, int number) const
{
    return uint32_t(deviceAddr + uint64_t(port - 1) * uint64_t(devicesPerPort) + uint64_t(number - 1));
}

SimulatorOptions SimulatorOptions::forBenchDevice(int port, int number) const
{
    SimulatorOptions options = forDevice(benchDeviceName(port, number));
    options.deviceAddr = benchDeviceAddr(port, number);
    return options;
}
