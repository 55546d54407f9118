#include "protocol/bootframe.h"
#include "tests/support/brokerprocess.h"
#include "tests/support/devsimprocess.h"
#include "tools/devsim/devicesimulator.h"
#include "tools/devsim/radiohop.h"
#include "tools/devsim/receiveline.h"
#include "tools/devsim/simulatoroptions.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <QRegularExpression>

#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Small parameters so that a whole update fits in a handful of frames: two packets a split.
constexpr uint16_t kSplitLen = 8;
constexpr uint16_t kUartLen = 4;

const QByteArray kRequestFirmware = QByteArray::fromHex("03000300b7");
const QByteArray kContinue = QByteArray::fromHex("03000600f6");
const QByteArray kSuccess = QByteArray::fromHex("0300fa001e");

QByteArray failReply(uint8_t code)
{
    return BootFrame::makeBootFrame(BootCmd::ReturnFail, QByteArray(1, char(code)));
}

QByteArray firmwareLenFrame(uint32_t length)
{
    QByteArray payload(5, '\x01');
    BootFrame::writeLe32(reinterpret_cast<uint8_t *>(payload.data()), length);
    return BootFrame::makeBootFrame(BootCmd::FirmwareLen, payload);
}

QByteArray packetFrame(uint32_t packetIndex, const QByteArray &data)
{
    QByteArray payload(4, '\0');
    BootFrame::writeLe32(reinterpret_cast<uint8_t *>(payload.data()), packetIndex);
    return BootFrame::makeBootFrame(BootCmd::FirmwarePacket, payload + data);
}

QByteArray checkFrame(uint8_t splitCrc)
{
    return BootFrame::makeBootFrame(BootCmd::FirmwareCheck, QByteArray(1, char(splitCrc)));
}

QByteArray overFrame()
{
    return BootFrame::makeBootFrame(BootCmd::FirmwareOver, QByteArray(1, '\x01'));
}

QByteArray testImage(int size)
{
    QByteArray image;
    for (int i = 0; i < size; ++i)
        image.append(char(0x11 * (i % 15) + 1));
    return image;
}

// The split as the tool pads it, and the CRC it sends for it.
uint8_t toolSplitCrc(const QByteArray &image, int split)
{
    QByteArray bytes = image.mid(split * kSplitLen, kSplitLen);
    bytes.append(QByteArray(kSplitLen - bytes.size(), char(0xFF)));
    return BootFrame::crc8(bytes.left(kSplitLen - 1));
}

// The frames a correct tool sends for an image, in order.
QList<QByteArray> updateFrames(const QByteArray &image)
{
    QList<QByteArray> frames{firmwareLenFrame(uint32_t(image.size()))};
    const int splits = (image.size() + kSplitLen - 1) / kSplitLen;
    for (int split = 0; split < splits; ++split) {
        for (int packet = 0; packet < kSplitLen / kUartLen; ++packet) {
            QByteArray data = image.mid(split * kSplitLen + packet * kUartLen, kUartLen);
            data.append(QByteArray(kUartLen - data.size(), char(0xFF)));
            frames.append(packetFrame(uint32_t(split + packet), data));
        }
        frames.append(checkFrame(toolSplitCrc(image, split)));
    }
    frames.append(overFrame());
    return frames;
}

QByteArray normalReply(const QByteArray &frame)
{
    switch (uint8_t(frame.at(2))) {
    case BootCmd::FirmwareLen:
        return kRequestFirmware;
    case BootCmd::FirmwareOver:
        return kSuccess;
    default:
        return kContinue;
    }
}

SimulatorOptions smallOptions()
{
    SimulatorOptions options;
    options.splitLen = kSplitLen;
    options.uartLen = kUartLen;
    options.restartDelayMs = 0;
    return options;
}

bool parseOptions(const QStringList &arguments, SimulatorOptions *out, QString *error)
{
    QCommandLineParser parser;
    SimulatorOptions::addTo(&parser);
    if (!parser.parse(QStringList{"plovikkit-devsim"} + arguments)) {
        *error = parser.errorText();
        return false;
    }
    return SimulatorOptions::read(parser, out, error);
}

// A simulator with everything it sends collected, fed as the pty would feed it.
class Bench
{
public:
    explicit Bench(const SimulatorOptions &options) : device(options)
    {
        QObject::connect(&device, &DeviceSimulator::output, &device,
                         [this](const QByteArray &bytes) { sent.append(bytes); });
    }

    QByteArray exchange(const QByteArray &bytes)
    {
        sent.clear();
        device.receive(bytes);
        return sent.join();
    }

    DeviceSimulator device;
    QList<QByteArray> sent;
};

// The bytes a ReceiveLine lets through, each batch with the time it came out.
class LineListener
{
public:
    explicit LineListener(ReceiveLine *line)
    {
        clock.start();
        QObject::connect(line, &ReceiveLine::arrived, line, [this](const QByteArray &bytes) {
            batches.append(bytes);
            times.append(clock.nsecsElapsed());
        });
    }

    QElapsedTimer clock;
    QList<QByteArray> batches;
    QList<qint64> times;
};

// Wire time of this many bytes, 10 bits each.
qint64 lineTimeNs(qint64 byteCount, int baudRate)
{
    return byteCount * 10 * 1000000000LL / baudRate;
}

// A port opened like the tool opens it: raw, and not blocking so that reads can time out.
int openRawPort(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return fd;
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

QByteArray readAtLeast(int fd, int size, int timeoutMs)
{
    QByteArray received;
    QDeadlineTimer deadline(timeoutMs);
    while (received.size() < size && !deadline.hasExpired()) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 50) > 0) {
            char buffer[256];
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count > 0)
                received.append(buffer, int(count));
        }
    }
    return received;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
}

// Starts the binary and returns the pty path it announces, empty on failure.
QString startDevsim(QProcess *process, const QStringList &arguments)
{
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(PLOVIKKIT_BINARY_DIR "/bin/plovikkit-devsim", arguments);
    if (!process->waitForStarted())
        return QString();
    QDeadlineTimer deadline(5000);
    while (!process->canReadLine() && !deadline.hasExpired())
        process->waitForReadyRead(100);
    const QString firstLine = QString::fromLocal8Bit(process->readLine()).trimmed();
    return firstLine.startsWith("pty: /dev/") ? firstLine.mid(5) : QString();
}

// The tool's side of one bench port: it probes as a station does and updates what answers.
class BenchPort
{
public:
    explicit BenchPort(const QString &path) : fd(openRawPort(path)) {}
    ~BenchPort() { ::close(fd); }

    // The address the device on the port announces to a boot entry; -1 while the port is silent.
    qint64 probe()
    {
        if (!writeAll(fd, QByteArray::fromHex("0326018e0353016d")))
            return -1;
        BootFrame::SplitLenRequest request;
        if (!BootFrame::parseSplitLenRequest(readAtLeast(fd, BootFrame::kSplitLenFrameSize, 300), &request))
            return -1;
        return request.deviceAddr;
    }

    qint64 probeUntil(const std::function<bool(qint64)> &wanted, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        qint64 address = probe();
        while (!wanted(address) && !deadline.hasExpired()) {
            // As a station probes: now and then, not so often that the log floods its pipe.
            QTest::qWait(100);
            address = probe();
        }
        return address;
    }

    bool update(const QByteArray &image)
    {
        for (const QByteArray &frame : updateFrames(image)) {
            if (!writeAll(fd, frame) || readAtLeast(fd, kContinue.size(), 5000) != normalReply(frame))
                return false;
        }
        return true;
    }

    int fd;
};

const QStringList kSmallBench{"--split-len", "8", "--uart-len", "4", "--summary"};

} // namespace

class tst_Devsim : public QObject
{
    Q_OBJECT

private slots:
    void splitLenRequestCarriesOptions_data();
    void splitLenRequestCarriesOptions();
    void badOptionsAreRefused_data();
    void badOptionsAreRefused();
    void bootEntryStartsRequest_data();
    void bootEntryStartsRequest();
    void newBootEntryRestartsSession();
    void demoBoardRepeatsRequestUntilFirmwareLen();
    void badFramesGetFittingFailure_data();
    void badFramesGetFittingFailure();
    void packetIndexIsSplitPlusPacket_data();
    void packetIndexIsSplitPlusPacket();
    void splitCheckCoversAllButLastByte_data();
    void splitCheckCoversAllButLastByte();
    void imageWrittenWithAnnouncedLength_data();
    void imageWrittenWithAnnouncedLength();
    void overBeforeLastSplitFails();
    void burstsAreReassembled_data();
    void burstsAreReassembled();
    void injectionsHitNumberedFrame_data();
    void injectionsHitNumberedFrame();
    void failWithoutRewindRestartsRequest();
    void silentDeviceSendsNothing();
    void replyDelayKeepsReplies();
    void binaryAnswersModuleCommandsOnPty();
    void receiveLineKeepsEveryByteInOrder_data();
    void receiveLineKeepsEveryByteInOrder();
    void frameHandledOnlyAfterLineTime_data();
    void frameHandledOnlyAfterLineTime();
    void binaryTakesFramesAtLineRate();
    void radioHopDelaysInOrder();
    void eachDeviceOfOneProcessIsUpdatedOnItsOwn_data();
    void eachDeviceOfOneProcessIsUpdatedOnItsOwn();
    void benchDevicesArriveInTurnWithOwnAddresses();
    void benchDeviceStaysThenLeavesSilence();
    void benchDemoBoardIsSilentAfterItsSuccess();
    void benchUpdateGivenUpDespiteProbes();
    void benchSummaryFlagsSecondUpdate_data();
    void benchSummaryFlagsSecondUpdate();
};

void tst_Devsim::splitLenRequestCarriesOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("withoutCrc");
    QTest::newRow("defaults") << QStringList{} << QByteArray::fromHex("0c0001 0004 8000 0a00 78563412");
    QTest::newRow("custom") << QStringList{"--split-len",  "256", "--uart-len",    "64",
                                           "--over-delay", "0",   "--device-addr", "ABCDEF01"}
                            << QByteArray::fromHex("0c0001 0001 4000 0000 01efcdab");
    QTest::newRow("largest") << QStringList{"--split-len", "65535",         "--over-delay",
                                            "65535",       "--device-addr", "ffffffff"}
                             << QByteArray::fromHex("0c0001 ffff 8000 ffff ffffffff");
}

void tst_Devsim::splitLenRequestCarriesOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, withoutCrc);
    SimulatorOptions options;
    QString error;
    QVERIFY2(parseOptions(arguments, &options, &error), qPrintable(error));
    const QByteArray request = DeviceSimulator(options).splitLenRequest();
    QCOMPARE(request.toHex(), (withoutCrc + char(BootFrame::crc8(withoutCrc))).toHex());
    QVERIFY(BootFrame::checkBootFrame(request));
}

void tst_Devsim::badOptionsAreRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("split-len 0") << QStringList{"--split-len", "0"};
    QTest::newRow("split-len too big") << QStringList{"--split-len", "65536"};
    QTest::newRow("uart-len not a number") << QStringList{"--uart-len", "x"};
    QTest::newRow("device-addr too long") << QStringList{"--device-addr", "123456789"};
    QTest::newRow("fail-code above a byte") << QStringList{"--fail-code", "100"};
    QTest::newRow("frame 0") << QStringList{"--drop-reply", "0"};
    QTest::newRow("unknown target") << QStringList{"--target", "router"};
    QTest::newRow("no gateway") << QStringList{"--mqtt", "h", "--gateways", "0"};
    QTest::newRow("gateway twice") << QStringList{"--mqtt", "h", "--gateway", "GW2", "--gateways", "2"};
    QTest::newRow("devices sharing a file") << QStringList{"--ports", "2", "--output", "image.bin"};
    QTest::newRow("more links than ports") << QStringList{"--ports", "1", "--link", "a", "--link", "b"};
    QTest::newRow("stay without devices") << QStringList{"--stay", "10"};
    QTest::newRow("devices behind gateways")
        << QStringList{"--mqtt", "h", "--gateway", "G", "--devices", "2"};
    QTest::newRow("bench devices sharing a file") << QStringList{"--devices", "2", "--output", "image.bin"};
}

void tst_Devsim::badOptionsAreRefused()
{
    QFETCH(QStringList, arguments);
    SimulatorOptions options;
    QString error;
    QVERIFY(!parseOptions(arguments, &options, &error));
    QVERIFY(!error.isEmpty());
}

void tst_Devsim::bootEntryStartsRequest_data()
{
    const QByteArray config = QByteArray::fromHex("0326018e");
    const QByteArray boot = QByteArray::fromHex("0353016d");
    const QByteArray text =
        R"({"method":"thing/gw/config/set","sys":{"ack":1,"src":"ext"},"params":[{"boot":1}]})";
    QList<QByteArray> byteByByte;
    for (char byte : config + boot)
        byteByByte.append(QByteArray(1, byte));

    QTest::addColumn<QString>("target");
    QTest::addColumn<QList<QByteArray>>("bursts");
    QTest::addColumn<int>("requests");
    QTest::newRow("module, one burst") << "module" << QList<QByteArray>{config + boot} << 1;
    QTest::newRow("module, as the tool writes") << "module" << QList<QByteArray>{config, boot} << 1;
    QTest::newRow("module, byte by byte") << "module" << byteByByte << 1;
    QTest::newRow("module, split across commands")
        << "module" << QList<QByteArray>{config.left(3), config.mid(3) + boot.left(1), boot.mid(1)} << 1;
    QTest::newRow("module, reversed order") << "module" << QList<QByteArray>{boot, config} << 1;
    QTest::newRow("module, config command only") << "module" << QList<QByteArray>{config} << 0;
    QTest::newRow("module, two connect attempts")
        << "module" << QList<QByteArray>{config, boot, config, boot} << 2;
    QTest::newRow("module, gateway text") << "module" << QList<QByteArray>{text} << 0;
    QTest::newRow("gateway, text in pieces")
        << "gateway" << QList<QByteArray>{text.left(10), text.mid(10, 40), text.mid(50)} << 1;
    QTest::newRow("gateway, module commands") << "gateway" << QList<QByteArray>{config, boot} << 0;
    QTest::newRow("demo, module commands") << "demo" << QList<QByteArray>{config, boot} << 0;
}

void tst_Devsim::bootEntryStartsRequest()
{
    QFETCH(QString, target);
    QFETCH(QList<QByteArray>, bursts);
    QFETCH(int, requests);
    SimulatorOptions options;
    QString error;
    QVERIFY(parseOptions({"--target", target}, &options, &error));
    Bench bench(options);
    QByteArray sent;
    for (const QByteArray &burst : bursts)
        sent += bench.exchange(burst);
    QCOMPARE(sent.toHex(), bench.device.splitLenRequest().repeated(requests).toHex());

    // Told to, a module acknowledges each command before it boots.
    if (target != QLatin1String("module") || requests != 1)
        return;
    QVERIFY(parseOptions({"--module-answers"}, &options, &error));
    Bench answering(options);
    sent.clear();
    for (const QByteArray &burst : bursts)
        sent += answering.exchange(burst);
    QVERIFY(sent.contains(QByteArray::fromHex("03260089")));
    QVERIFY(sent.contains(QByteArray::fromHex("0353006a")));
    QVERIFY(sent.endsWith(answering.device.splitLenRequest()));
}

void tst_Devsim::newBootEntryRestartsSession()
{
    Bench bench(smallOptions());
    const QByteArray entry = QByteArray::fromHex("0326018e0353016d");
    const QByteArray image = testImage(16);
    QCOMPARE(bench.exchange(entry), bench.device.splitLenRequest());
    QCOMPARE(bench.exchange(firmwareLenFrame(16)), kRequestFirmware);
    QCOMPARE(bench.exchange(packetFrame(0, image.left(4))), kContinue);
    QCOMPARE(bench.exchange(entry), bench.device.splitLenRequest());
    // The restarted bootloader has forgotten the announced image.
    QCOMPARE(bench.exchange(packetFrame(1, image.mid(4, 4))).toHex(),
             failReply(BootReturn::CmdError).toHex());
}

void tst_Devsim::demoBoardRepeatsRequestUntilFirmwareLen()
{
    SimulatorOptions options = smallOptions();
    options.target = TargetKind::DemoBoard;
    options.demoDelayMs = 0;
    options.demoRepeatMs = 5;
    Bench bench(options);
    bench.device.start();
    QTRY_VERIFY(bench.sent.size() >= 2);
    for (const QByteArray &request : bench.sent)
        QCOMPARE(request, bench.device.splitLenRequest());
    QCOMPARE(bench.exchange(firmwareLenFrame(16)), kRequestFirmware);
    // Six repeat periods without another request.
    QSignalSpy repeats(&bench.device, &DeviceSimulator::output);
    QVERIFY(!repeats.wait(30));
    QCOMPARE(bench.sent.size(), 1);
}

void tst_Devsim::badFramesGetFittingFailure_data()
{
    QByteArray badCrc = firmwareLenFrame(16);
    badCrc[badCrc.size() - 1] = char(badCrc.at(badCrc.size() - 1) ^ 0x01);
    QByteArray longLenFrame =
        BootFrame::makeBootFrame(BootCmd::FirmwareLen, QByteArray::fromHex("1000000001ff"));

    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<uint>("code");
    QTest::newRow("CRC wrong") << badCrc << uint(BootReturn::CrcCheckError);
    QTest::newRow("unknown command") << BootFrame::makeBootFrame(0x09, QByteArray(1, '\0'))
                                     << uint(BootReturn::CmdError);
    QTest::newRow("SPLIT LEN from the tool")
        << BootFrame::makeBootFrame(BootCmd::SplitLen, QByteArray(10, '\0')) << uint(BootReturn::CmdError);
    QTest::newRow("packet before FIRMWARE LEN") << packetFrame(0, "abcd") << uint(BootReturn::CmdError);
    QTest::newRow("check before FIRMWARE LEN") << checkFrame(0) << uint(BootReturn::CmdError);
    QTest::newRow("over before FIRMWARE LEN") << overFrame() << uint(BootReturn::CmdError);
    QTest::newRow("FIRMWARE LEN of 0") << firmwareLenFrame(0) << uint(BootReturn::FirmwareLenError);
    QTest::newRow("FIRMWARE LEN frame too long") << longLenFrame << uint(BootReturn::FirmwareLenError);
}

void tst_Devsim::badFramesGetFittingFailure()
{
    QFETCH(QByteArray, frame);
    QFETCH(uint, code);
    Bench bench(smallOptions());
    QCOMPARE(bench.exchange(frame).toHex(), failReply(uint8_t(code)).toHex());
}

void tst_Devsim::packetIndexIsSplitPlusPacket_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("answers");
    // pN: packet with packetIndex N, c: check of the current split, w: packet 0 with uartLen + 1 bytes.
    QTest::newRow("split + packet") << "p0 p1 c p1 p2 c"
                                    << "ok ok ok ok ok ok";
    QTest::newRow("split * packets + packet") << "p0 p1 c p2"
                                              << "ok ok ok 04";
    QTest::newRow("resent after a lost answer") << "p0 p0 p1 p1 c"
                                                << "ok ok ok ok ok";
    QTest::newRow("split rewound") << "p0 p1 p0 p1 c"
                                   << "ok ok ok ok ok";
    QTest::newRow("packet skipped") << "p1"
                                    << "04";
    QTest::newRow("past the split") << "p0 p1 p2"
                                    << "ok ok 04";
    QTest::newRow("data longer than uartLen") << "w"
                                              << "04";
}

void tst_Devsim::packetIndexIsSplitPlusPacket()
{
    QFETCH(QString, script);
    QFETCH(QString, answers);
    const QByteArray image = testImage(16);
    Bench bench(smallOptions());
    QCOMPARE(bench.exchange(firmwareLenFrame(uint32_t(image.size()))), kRequestFirmware);
    const QStringList steps = script.split(' ');
    const QStringList expected = answers.split(' ');
    int split = 0;
    for (int i = 0; i < steps.size(); ++i) {
        QByteArray frame;
        if (steps[i] == "c") {
            frame = checkFrame(toolSplitCrc(image, split++));
        } else if (steps[i] == "w") {
            frame = packetFrame(0, image.left(kUartLen + 1));
        } else {
            const int index = steps[i].mid(1).toInt();
            frame = packetFrame(uint32_t(index),
                                image.mid(split * kSplitLen + (index - split) * kUartLen, kUartLen));
        }
        const QByteArray want =
            expected[i] == "ok" ? kContinue : failReply(uint8_t(expected[i].toUInt(nullptr, 16)));
        QVERIFY2(bench.exchange(frame) == want,
                 qPrintable(QStringLiteral("step %1 (%2)").arg(i).arg(steps[i])));
    }
}

void tst_Devsim::splitCheckCoversAllButLastByte_data()
{
    const QByteArray image = testImage(16);
    const uint8_t wholeSplitCrc = BootFrame::crc8(image.left(kSplitLen));
    QVERIFY(wholeSplitCrc != toolSplitCrc(image, 0));

    QTest::addColumn<uint>("splitCrc");
    QTest::addColumn<QByteArray>("answer");
    QTest::newRow("splitLen - 1 bytes") << uint(toolSplitCrc(image, 0)) << kContinue;
    QTest::newRow("whole split") << uint(wholeSplitCrc) << failReply(BootReturn::CrcCheckError);
    QTest::newRow("other split") << uint(toolSplitCrc(image, 1)) << failReply(BootReturn::CrcCheckError);
}

void tst_Devsim::splitCheckCoversAllButLastByte()
{
    QFETCH(uint, splitCrc);
    QFETCH(QByteArray, answer);
    const QByteArray image = testImage(16);
    Bench bench(smallOptions());
    bench.exchange(firmwareLenFrame(16));
    QCOMPARE(bench.exchange(packetFrame(0, image.left(4))), kContinue);
    QCOMPARE(bench.exchange(packetFrame(1, image.mid(4, 4))), kContinue);
    QCOMPARE(bench.exchange(checkFrame(uint8_t(splitCrc))).toHex(), answer.toHex());
}

void tst_Devsim::imageWrittenWithAnnouncedLength_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("one split") << 8;
    QTest::newRow("two splits") << 16;
    QTest::newRow("last split short") << 13;
}

void tst_Devsim::imageWrittenWithAnnouncedLength()
{
    QFETCH(int, size);
    QTemporaryDir dir;
    SimulatorOptions options = smallOptions();
    options.outputPath = dir.filePath("image.bin");
    Bench bench(options);
    const QByteArray image = testImage(size);
    for (const QByteArray &frame : updateFrames(image))
        QCOMPARE(bench.exchange(frame).toHex(), normalReply(frame).toHex());
    QVERIFY(bench.device.updateSucceeded());
    QFile written(options.outputPath);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll().toHex(), image.toHex());
}

void tst_Devsim::overBeforeLastSplitFails()
{
    QTemporaryDir dir;
    SimulatorOptions options = smallOptions();
    options.outputPath = dir.filePath("image.bin");
    Bench bench(options);
    const QList<QByteArray> frames = updateFrames(testImage(16));
    for (int i = 0; i < 4; ++i) // FIRMWARE LEN and split 0
        bench.exchange(frames[i]);
    QCOMPARE(bench.exchange(overFrame()).toHex(), failReply(BootReturn::CmdError).toHex());
    QVERIFY(!QFile::exists(options.outputPath));
    QVERIFY(!bench.device.updateSucceeded());
}

void tst_Devsim::burstsAreReassembled_data()
{
    const QByteArray len = firmwareLenFrame(16);
    const QByteArray packet = packetFrame(0, "abcd");
    QTest::addColumn<QList<QByteArray>>("bursts");
    QTest::addColumn<QByteArray>("answers");
    QTest::newRow("two frames in one read")
        << QList<QByteArray>{len + packet} << kRequestFirmware + kContinue;
    QTest::newRow("frame over three reads")
        << QList<QByteArray>{len, packet.left(1), packet.mid(1, 6), packet.mid(7)}
        << kRequestFirmware + kContinue;
    QTest::newRow("frame end and next frame in one read")
        << QList<QByteArray>{len.left(4), len.mid(4) + packet} << kRequestFirmware + kContinue;
    QTest::newRow("garbage before a frame")
        << QList<QByteArray>{QByteArray::fromHex("0030ffff") + len} << kRequestFirmware;
}

void tst_Devsim::burstsAreReassembled()
{
    QFETCH(QList<QByteArray>, bursts);
    QFETCH(QByteArray, answers);
    Bench bench(smallOptions());
    QByteArray sent;
    for (const QByteArray &burst : bursts)
        sent += bench.exchange(burst);
    QCOMPARE(sent.toHex(), answers.toHex());
}

void tst_Devsim::injectionsHitNumberedFrame_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QList<int>>("hitFrames");
    QTest::addColumn<QByteArray>("injectedReply");
    // Frames of a 16-byte update: 1 LEN, 2 and 3 packets, 4 check, 5 and 6 packets, 7 check, 8 OVER.
    QTest::newRow("drop a packet") << QStringList{"--drop-reply", "3"} << QList<int>{3} << QByteArray();
    QTest::newRow("drop the resend too")
        << QStringList{"--drop-reply", "3", "--drop-reply", "4"} << QList<int>{3, 4} << QByteArray();
    QTest::newRow("drop a check") << QStringList{"--drop-reply", "7"} << QList<int>{7} << QByteArray();
    QTest::newRow("rewind on a packet") << QStringList{"--fail-frame", "5", "--fail-code", "85"}
                                        << QList<int>{5} << failReply(BootReturn::RewindSplit);
    QTest::newRow("rewind on a check") << QStringList{"--fail-frame", "4", "--fail-code", "85"}
                                       << QList<int>{4} << failReply(BootReturn::RewindSplit);
    QTest::newRow("garbage") << QStringList{"--garbage-frame", "2"} << QList<int>{2} << QByteArray("garbage");
    QTest::newRow("drop wins over fail")
        << QStringList{"--drop-reply", "2", "--fail-frame", "2"} << QList<int>{2} << QByteArray();
    QTest::newRow("over reply") << QStringList{"--over-reply", "06"} << QList<int>{8} << kContinue;
}

// The bench plays a tool that sends a frame again until it gets the usual answer, so the
// injected frame must leave the device expecting the same frame again.
void tst_Devsim::injectionsHitNumberedFrame()
{
    QFETCH(QStringList, arguments);
    QFETCH(QList<int>, hitFrames);
    QFETCH(QByteArray, injectedReply);
    SimulatorOptions options;
    QString error;
    QVERIFY2(parseOptions(arguments + QStringList{"--split-len", "8", "--uart-len", "4"}, &options, &error),
             qPrintable(error));
    Bench bench(options);
    QList<int> hits;
    const QList<QByteArray> frames = updateFrames(testImage(16));
    for (const QByteArray &frame : frames) {
        QByteArray answer = bench.exchange(frame);
        while (answer != normalReply(frame) && hits.size() < 5) {
            hits.append(bench.device.firmwareFrameCount());
            if (injectedReply == "garbage") {
                QCOMPARE(answer.size(), 5);
                QVERIFY(!BootFrame::checkBootFrame(answer));
            } else {
                QCOMPARE(answer.toHex(), injectedReply.toHex());
            }
            if (frame == overFrame())
                break;
            answer = bench.exchange(frame);
        }
    }
    QCOMPARE(hits, hitFrames);
    QVERIFY(bench.device.updateSucceeded());
}

void tst_Devsim::failWithoutRewindRestartsRequest()
{
    SimulatorOptions options = smallOptions();
    options.failFrames = {2};
    options.failCode = BootReturn::CrcCheckError;
    Bench bench(options);
    const QList<QByteArray> frames = updateFrames(testImage(16));
    QCOMPARE(bench.exchange(frames[0]), kRequestFirmware);
    QCOMPARE(bench.exchange(frames[1]).toHex(), failReply(BootReturn::CrcCheckError).toHex());
    // Kept apart from the failure answer, so that the tool's resynchronising wait sees it.
    QCOMPARE(bench.sent.size(), 1);
    QTRY_COMPARE(bench.sent.size(), 2);
    QCOMPARE(bench.sent[1], bench.device.splitLenRequest());
    for (const QByteArray &frame : frames)
        QCOMPARE(bench.exchange(frame).toHex(), normalReply(frame).toHex());
}

void tst_Devsim::silentDeviceSendsNothing()
{
    SimulatorOptions options = smallOptions();
    options.silent = true;
    Bench bench(options);
    QVERIFY(bench.exchange(QByteArray::fromHex("0326018e0353016d")).isEmpty());
    for (const QByteArray &frame : updateFrames(testImage(8)))
        QVERIFY(bench.exchange(frame).isEmpty());
    QSignalSpy late(&bench.device, &DeviceSimulator::output);
    QVERIFY(!late.wait(20));
    QVERIFY(bench.sent.isEmpty());
}

void tst_Devsim::replyDelayKeepsReplies()
{
    SimulatorOptions options = smallOptions();
    options.replyDelayMs = 20;
    Bench bench(options);
    QVERIFY(bench.exchange(firmwareLenFrame(16) + packetFrame(0, "abcd")).isEmpty());
    QTRY_COMPARE(bench.sent, (QList<QByteArray>{kRequestFirmware, kContinue}));
}

void tst_Devsim::binaryAnswersModuleCommandsOnPty()
{
    QTemporaryDir dir;
    const QString link = dir.filePath("device");
    QProcess process;
    const QString slavePath = startDevsim(&process, {"--link", link, "--split-len", "512", "--uart-len", "64",
                                                     "--baud", "115200", "--module-answers"});
    QVERIFY(!slavePath.isEmpty());
    QCOMPARE(QFileInfo(link).symLinkTarget(), slavePath);

    const int fd = openRawPort(link);
    QVERIFY(fd >= 0);
    QVERIFY(writeAll(fd, QByteArray::fromHex("0326018e0353016d")));
    const QByteArray moduleAnswers = QByteArray::fromHex("032600890353006a");
    QByteArray received = readAtLeast(fd, moduleAnswers.size() + BootFrame::kSplitLenFrameSize, 5000);
    ::close(fd);
    QVERIFY(received.startsWith(moduleAnswers));
    received.remove(0, moduleAnswers.size());

    QVERIFY2(BootFrame::checkBootFrame(received), qPrintable(received.toHex()));
    BootFrame::SplitLenRequest request;
    QVERIFY(BootFrame::parseSplitLenRequest(received, &request));
    QCOMPARE(request.command, BootCmd::SplitLen);
    QCOMPARE(request.splitLen, uint16_t(512));
    QCOMPARE(request.uartLen, uint16_t(64));
    QCOMPARE(request.deviceAddr, 0x12345678u);

    process.terminate();
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void tst_Devsim::receiveLineKeepsEveryByteInOrder_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<QList<QByteArray>>("writes");
    const QList<QByteArray> writes{"abc", QByteArray(1, '\0'), testImage(300), "xyz"};
    QTest::newRow("unpaced") << 0 << writes;
    QTest::newRow("115200") << 115200 << writes;
    QTest::newRow("57600 one byte") << 57600 << QList<QByteArray>{"q"};
}

void tst_Devsim::receiveLineKeepsEveryByteInOrder()
{
    QFETCH(int, baudRate);
    QFETCH(QList<QByteArray>, writes);
    ReceiveLine line;
    line.setBaudRate(baudRate);
    LineListener listener(&line);
    for (const QByteArray &bytes : writes)
        line.push(bytes);
    // Unpaced, the bytes pass before push() returns, as they did straight from the pty.
    if (baudRate == 0)
        QCOMPARE(listener.batches, writes);
    QTRY_COMPARE(listener.batches.join(), writes.join());
    QCOMPARE(line.bytesOnLine(), 0);
}

void tst_Devsim::frameHandledOnlyAfterLineTime_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<QList<QByteArray>>("frames");
    // Before this frame is pushed, wait so long; -1 pushes it in two halves, the second later.
    QTest::addColumn<int>("pauseMs");

    const QByteArray len = firmwareLenFrame(1024);
    const QByteArray packet = packetFrame(0, testImage(128));
    QTest::newRow("one frame 9600") << 9600 << QList<QByteArray>{len} << 0;
    QTest::newRow("queued frames 9600") << 9600 << QList<QByteArray>{len, packet} << 0;
    QTest::newRow("queued frames 115200") << 115200 << QList<QByteArray>{len, packet, packet} << 0;
    QTest::newRow("packet in halves 9600") << 9600 << QList<QByteArray>{len, packet} << -1;
    QTest::newRow("idle line between 9600") << 9600 << QList<QByteArray>{len, packet} << 30;
}

// A frame's reply may not leave before all bytes up to the frame's last one have had their
// line time, counted from the first byte pushed.
void tst_Devsim::frameHandledOnlyAfterLineTime()
{
    QFETCH(int, baudRate);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, pauseMs);
    SimulatorOptions options;
    options.splitLen = 1024;
    options.uartLen = 128;
    options.baudRate = baudRate;
    DeviceSimulator device(options);
    ReceiveLine line;
    line.setBaudRate(baudRate);
    QObject::connect(&line, &ReceiveLine::arrived, &device, &DeviceSimulator::receive);
    QElapsedTimer clock;
    QList<QByteArray> replies;
    QList<qint64> replyTimes;
    QObject::connect(&device, &DeviceSimulator::output, &device, [&](const QByteArray &bytes) {
        replies.append(bytes);
        replyTimes.append(clock.nsecsElapsed());
    });

    // The pauses model the sender: the bound asserted counts line time from the first byte
    // pushed, so a pause that comes out longer on a loaded machine only makes it easier.
    clock.start();
    for (const QByteArray &frame : frames) {
        if (pauseMs > 0 && &frame != &frames.first())
            QTest::qWait(pauseMs);
        if (pauseMs < 0) {
            line.push(frame.left(frame.size() / 2));
            QTest::qWait(20);
            line.push(frame.mid(frame.size() / 2));
        } else {
            line.push(frame);
        }
    }
    QTRY_COMPARE(replies.size(), frames.size());

    qint64 bytesSoFar = 0;
    for (int i = 0; i < frames.size(); ++i) {
        bytesSoFar += frames.at(i).size();
        QCOMPARE(replies.at(i), normalReply(frames.at(i)));
        QVERIFY2(replyTimes.at(i) >= lineTimeNs(bytesSoFar, baudRate),
                 qPrintable(QStringLiteral("reply %1 after %2 ns, line time %3 ns")
                                .arg(i)
                                .arg(replyTimes.at(i))
                                .arg(lineTimeNs(bytesSoFar, baudRate))));
    }
}

void tst_Devsim::binaryTakesFramesAtLineRate()
{
    constexpr int kBaud = 9600;
    QProcess process;
    const QString slavePath =
        startDevsim(&process, {"--split-len", "1024", "--uart-len", "128", "--baud", QString::number(kBaud)});
    QVERIFY(!slavePath.isEmpty());
    const int fd = openRawPort(slavePath);
    QVERIFY(fd >= 0);
    QVERIFY(writeAll(fd, QByteArray::fromHex("0326018e0353016d")));
    QCOMPARE(readAtLeast(fd, BootFrame::kSplitLenFrameSize, 5000).size(), BootFrame::kSplitLenFrameSize);

    const QByteArray frames = firmwareLenFrame(1024) + packetFrame(0, testImage(128));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(writeAll(fd, frames));
    const QByteArray replies = readAtLeast(fd, 2 * kContinue.size(), 5000);
    const qint64 elapsedNs = clock.nsecsElapsed();
    ::close(fd);

    QCOMPARE(replies, kRequestFirmware + kContinue);
    QVERIFY2(elapsedNs >= lineTimeNs(frames.size(), kBaud), qPrintable(QString::number(elapsedNs)));
    process.terminate();
    QVERIFY(process.waitForFinished(5000));
}

// A message sent while the hop delivers gets its own full delay, not the running one's.
void tst_Devsim::radioHopDelaysInOrder()
{
    constexpr int kLatencyMs = 30;
    RadioHop hop(kLatencyMs);
    QElapsedTimer clock;
    QList<QByteArray> delivered;
    QList<qint64> times;
    QObject::connect(&hop, &RadioHop::delivered, &hop, [&](const QByteArray &bytes) {
        delivered.append(bytes);
        times.append(clock.elapsed());
        if (bytes == "a")
            hop.send("c");
    });
    clock.start();
    hop.send("a");
    hop.send("b");
    QVERIFY(delivered.isEmpty());
    QTRY_COMPARE(delivered, (QList<QByteArray>{"a", "b", "c"}));
    QVERIFY(times[0] >= kLatencyMs);
    QVERIFY(times[2] - times[0] >= kLatencyMs);
}

void tst_Devsim::eachDeviceOfOneProcessIsUpdatedOnItsOwn_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("gateways on one broker")
        << QStringList{"--mqtt", "BROKER", "--gateway", "X", "--gateways", "2", "--gateway-prefix", "G"}
        << QStringList{"X", "G1", "G2"};
    QTest::newRow("ptys") << QStringList{"--ports", "2"} << QStringList{"1", "2"};
}

// Images of different lengths, all sent at once, each with a lost answer of its own.
void tst_Devsim::eachDeviceOfOneProcessIsUpdatedOnItsOwn()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, names);
    BrokerProcess broker;
    const bool gateways = arguments.contains("--mqtt");
    QVERIFY(!gateways || broker.start());
    arguments.replaceInStrings("BROKER", broker.address());
    QTemporaryDir dir;
    DevsimProcess device;
    QVERIFY(device.start(arguments + QStringList{"--split-len", "256", "--uart-len", "64", "--latency", "5",
                                                 "--drop-reply", "3", "--output", dir.filePath("{}.bin")},
                         names.size()));
    std::vector<std::unique_ptr<QProcess>> flashers;
    for (int i = 0; i < names.size(); ++i) {
        QFile image(dir.filePath(QString::number(i)));
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write(testImage(512 + 256 * i)) > 0);
        image.close();
        const QStringList target = gateways ? QStringList{"--mqtt", broker.address(), "--gateway", names[i]}
                                            : QStringList{"-p", device.readyNames().value(i)};
        flashers.push_back(std::make_unique<QProcess>());
        flashers.back()->start(DevsimProcess::binary("plovikkit-flash"),
                               target + QStringList{image.fileName()});
    }
    if (gateways)
        QCOMPARE(device.readyNames(), names);
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(flashers[i]->waitForFinished(60000));
        QCOMPARE(flashers[i]->exitCode(), 0);
        QVERIFY(flashers[i]->readAllStandardOutput().contains("firmware packet send timeout"));
        QFile received(dir.filePath(names[i] + ".bin"));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), testImage(512 + 256 * i));
    }
}

// Port p's device k announces base + (p - 1) * N + k - 1, carried past 2^32, one after another.
void tst_Devsim::benchDevicesArriveInTurnWithOwnAddresses()
{
    DevsimProcess bench;
    QVERIFY(
        bench.start(kSmallBench + QStringList{"--ports", "2", "--devices", "2", "--device-addr", "FFFFFFFE",
                                              "--stay", "0", "--arrive-after", "300", "--exit-when-done"},
                    2));
    const QList<QList<qint64>> expected{{0xFFFFFFFE, 0xFFFFFFFF}, {0x00000000, 0x00000001}};
    for (int port = 0; port < 2; ++port) {
        BenchPort tool(bench.readyNames().at(port));
        qint64 previous = -1;
        for (const qint64 address : expected[port]) {
            const qint64 seen = tool.probeUntil([previous](qint64 a) { return a >= 0 && a != previous; });
            QCOMPARE(seen, address);
            QVERIFY(tool.update(testImage(16)));
            previous = seen;
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(bench.log().contains("summary: devices="), 10000);
    QVERIFY2(bench.log().contains("summary: devices=4 succeeded=4 failed=0 more-than-once=0"),
             qPrintable(bench.log().right(2000)));
}

// After its update a module still answers with its address, until it leaves; then the port is silent.
void tst_Devsim::benchDeviceStaysThenLeavesSilence()
{
    constexpr int kStayMs = 3000;
    DevsimProcess bench;
    QVERIFY(bench.start(kSmallBench + QStringList{"--devices", "2", "--arrive-after", "5000", "--stay",
                                                  QString::number(kStayMs)}));
    BenchPort tool(bench.portPath());
    QCOMPARE(tool.probeUntil([](qint64 a) { return a >= 0; }), qint64(0x12345678));
    QVERIFY(tool.update(testImage(16)));
    QCOMPARE(tool.probe(), qint64(0x12345678));
    QCOMPARE(tool.probeUntil([](qint64 a) { return a < 0; }), qint64(-1));
    bench.stop();

    const QRegularExpression unit(R"(unit: port=1 device=12345678 result=success seconds=([\d.]+) )"
                                  R"(arrived=([\d.]+) to-first-frame=([\d.]+) left=([\d.]+) updates=1 )");
    const QRegularExpressionMatch times = unit.match(bench.log());
    QVERIFY2(times.hasMatch(), qPrintable(bench.log().right(2000)));
    const double updateEnded =
        times.captured(2).toDouble() + times.captured(3).toDouble() + times.captured(1).toDouble();
    QVERIFY(times.captured(4).toDouble() - updateEnded >= kStayMs / 1000.0 - 0.002);
}

// The next announcement after a demo board's success, though it stays longer than its repeat
// period, comes from the next board.
void tst_Devsim::benchDemoBoardIsSilentAfterItsSuccess()
{
    DevsimProcess bench;
    QVERIFY(bench.start(kSmallBench + QStringList{"--target", "demo", "--devices", "2", "--demo-delay", "0",
                                                  "--demo-repeat", "3000", "--arrive-after", "0", "--stay",
                                                  "4000"}));
    BenchPort tool(bench.portPath());
    BootFrame::SplitLenRequest request;
    QVERIFY(
        BootFrame::parseSplitLenRequest(readAtLeast(tool.fd, BootFrame::kSplitLenFrameSize, 5000), &request));
    QCOMPARE(request.deviceAddr, 0x12345678u);
    QVERIFY(tool.update(testImage(16)));
    const QByteArray next = readAtLeast(tool.fd, BootFrame::kSplitLenFrameSize, 10000);
    QVERIFY(BootFrame::parseSplitLenRequest(next.left(BootFrame::kSplitLenFrameSize), &request));
    QCOMPARE(request.deviceAddr, 0x12345679u);
}

// A tool that stops in the middle of an update and goes back to probing has given it up: the
// device fails and leaves, however often it is probed.
void tst_Devsim::benchUpdateGivenUpDespiteProbes()
{
    DevsimProcess bench;
    QVERIFY(bench.start(kSmallBench + QStringList{"--devices", "1", "--arrive-after", "0", "--stay", "0"}));
    BenchPort tool(bench.portPath());
    QVERIFY(tool.probeUntil([](qint64 a) { return a >= 0; }) >= 0);
    QVERIFY(writeAll(tool.fd, firmwareLenFrame(16)));
    QCOMPARE(readAtLeast(tool.fd, kRequestFirmware.size(), 5000), kRequestFirmware);
    QCOMPARE(tool.probeUntil([](qint64 a) { return a < 0; }, 30000), qint64(-1));
    bench.stop();
    QVERIFY2(bench.log().contains("unit: port=1 device=12345678 result=failed"),
             qPrintable(bench.log().right(500)));
}

void tst_Devsim::benchSummaryFlagsSecondUpdate_data()
{
    QTest::addColumn<int>("updates");
    QTest::addColumn<QString>("flag");
    QTest::newRow("once") << 1 << "updates=1 more-than-once=no";
    QTest::newRow("twice") << 2 << "updates=2 more-than-once=yes";
}

void tst_Devsim::benchSummaryFlagsSecondUpdate()
{
    QFETCH(int, updates);
    QFETCH(QString, flag);
    DevsimProcess bench;
    QVERIFY(
        bench.start(kSmallBench + QStringList{"--devices", "1", "--arrive-after", "0", "--stay", "60000"}));
    BenchPort tool(bench.portPath());
    for (int i = 0; i < updates; ++i) {
        QVERIFY(tool.probeUntil([](qint64 a) { return a >= 0; }) >= 0);
        QVERIFY(tool.update(testImage(16)));
    }
    bench.stop();
    QVERIFY2(bench.log().contains("unit: port=1 device=12345678 result=success"), qPrintable(bench.log()));
    QVERIFY(bench.log().contains(flag + "\n"));
    QVERIFY(bench.log().contains(QStringLiteral("more-than-once=%1\n").arg(updates - 1)));
}

QTEST_GUILESS_MAIN(tst_Devsim)
#include "tst_devsim.moc"
