// plovikkit-flash against the simulated device over a real pty and through a mosquitto
// broker as a gateway: whole updates, the device's failure answers, the command-line
// contract, a device or broker that vanishes, and the cloud catalogue.
#include "tests/support/brokerprocess.h"
#include "tests/support/cloudsimprocess.h"
#include "tests/support/devsimprocess.h"
#include "tests/support/pty.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FlashRun
{
    int exitCode = -1;
    QStringList lines;
    QString errors;
};

QByteArray patternImage(int size)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 7 + i / 251) & 0xFF);
    return image;
}

// The "done" event of each target, by target, and the summary, which must come last.
QHash<QString, QJsonObject> doneEvents(const QStringList &lines, QJsonObject *summary)
{
    QHash<QString, QJsonObject> done;
    for (const QString &line : lines) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event.value("event") == QLatin1String("done"))
            done.insert(event.value("target").toString(), event);
        if (event.value("event") == QLatin1String("summary") && line == lines.last())
            *summary = event;
    }
    return done;
}

// Starts the flasher and returns once `text` is on its stdout.
bool startFlashUntil(QProcess &flash, const QStringList &arguments, const QByteArray &text)
{
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")), arguments);
    if (!flash.waitForStarted())
        return false;
    while (!flash.peek(1 << 24).contains(text)) {
        if (!flash.waitForReadyRead(20000))
            return false;
    }
    return true;
}

// A pipe that holds one page, whose reader (the test) takes nothing until told to.
struct StalledPipe
{
    int fds[2] = {-1, -1};
    StalledPipe()
    {
        if (::pipe2(fds, O_CLOEXEC) == 0)
            ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    }
    ~StalledPipe()
    {
        closeWriter();
        ::close(fds[0]);
    }
    QString writerPath() const { return QStringLiteral("/proc/self/fd/%1").arg(fds[1]); }
    // With one page, a pipe that holds anything takes nothing more for poll().
    bool isFull() const
    {
        int pending = 0;
        return ::ioctl(fds[0], FIONREAD, &pending) == 0 && pending > 0;
    }
    void closeWriter()
    {
        if (fds[1] >= 0)
            ::close(fds[1]);
        fds[1] = -1;
    }
    // Everything until every writer has closed its end.
    QByteArray readAll()
    {
        QByteArray got;
        char chunk[65536];
        ssize_t n = 0;
        while ((n = ::read(fds[0], chunk, sizeof chunk)) > 0)
            got.append(chunk, int(n));
        return got;
    }
};

QList<QJsonObject> jsonEvents(const QByteArray &output, const QString &event)
{
    QList<QJsonObject> events;
    for (const QByteArray &line : output.split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        if (object.value("event").toString() == event)
            events << object;
    }
    return events;
}

} // namespace

class tst_Flash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void wholeUpdates_data();
    void wholeUpdates();
    void usageAndPortErrors_data();
    void usageAndPortErrors();
    void listPortsIncludesExtraPorts();
    void serialNumberNamesTheAdapterItHasNow();
    void linkLostMidUpdateEndsTheSession_data();
    void linkLostMidUpdateEndsTheSession();
    void brokerFrozenMidUpdate_data();
    void brokerFrozenMidUpdate();
    void stdoutThatTakesNothing_data();
    void stdoutThatTakesNothing();
    void stalledReader_data();
    void stalledReader();
    void boardOnASmallTerminal();
    void portsBeyondTheOpenFileLimitWait();
    void cloudCatalogue_data();
    void cloudCatalogue();

    void fleetThroughOneBrokerInJson();
    void fleetOverSerialPorts();
    void fleetUsageErrorsSendNothing_data();
    void fleetUsageErrorsSendNothing();
    void signalMidFleetEndsEverySession();
    void signalMidUpdateEndsItWithTheReport_data();
    void signalMidUpdateEndsItWithTheReport();
    void brokerAbsentOrSilentAtTheStart_data();
    void brokerAbsentOrSilentAtTheStart();
    void fleetWaitsForARestartedBroker();
    void frozenBrokerIsNoticedAndHoldsNewTargets();

private:
    QString writeImage(const QByteArray &content);
    FlashRun runFlash(const QStringList &arguments, int timeoutMs = 60000,
                      const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

    QTemporaryDir dir;
    int imageCount = 0;
    BrokerProcess broker;
};

void tst_Flash::initTestCase()
{
    QVERIFY(dir.isValid());
    // The flasher records every update: into this test's folder, never the user's.
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
    QVERIFY(QFile::exists(DevsimProcess::binary(QStringLiteral("plovikkit-flash"))));
    QVERIFY(broker.start());
}

QString tst_Flash::writeImage(const QByteArray &content)
{
    const QString path = dir.filePath(QStringLiteral("image%1.bin").arg(++imageCount));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

FlashRun tst_Flash::runFlash(const QStringList &arguments, int timeoutMs, const QProcessEnvironment &env)
{
    QProcess flash;
    flash.setProcessEnvironment(env);
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")), arguments);
    FlashRun run;
    if (!flash.waitForFinished(timeoutMs)) {
        // Where it stood is the only clue to why it did not end.
        qWarning("still running after %d ms:\n%s\n%s", timeoutMs,
                 flash.readAllStandardError().right(3000).constData(),
                 flash.readAllStandardOutput().right(8000).constData());
        flash.kill();
        flash.waitForFinished();
        return run;
    }
    run.exitCode = flash.exitStatus() == QProcess::NormalExit ? flash.exitCode() : -1;
    run.lines = QString::fromUtf8(flash.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    run.errors = QString::fromLocal8Bit(flash.readAllStandardError());
    return run;
}

void tst_Flash::wholeUpdates_data()
{
    QTest::addColumn<QStringList>("deviceArgs");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("imageSize");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("receivedSize"); // -1: the device must not have written an image
    QTest::addColumn<QStringList>("expectedLines");
    QTest::addColumn<QStringList>("flashArgs");
    QTest::addColumn<QString>("error"); // the reason on stderr when the update fails

    const QStringList small = {"--split-len", "256", "--uart-len", "128"};
    QTest::newRow("1000 bytes padded to 1024") << small << "module" << 1000 << 0 << 1024
                                               << QStringList{"use nation firmware",
                                                              "get splitLen: 256",
                                                              "get uartLen: 128",
                                                              "get firm_len: 1000",
                                                              "get deviceAddr: 12345678",
                                                              "firmware packet sending - 1024",
                                                              "firmware packet sending - 128",
                                                              "firmware packet update success "}
                                               << QStringList() << QString();
    QTest::newRow("exact multiple is not padded")
        << QStringList{"--split-len", "1024", "--uart-len", "128"} << "module" << 2048 << 0 << 2048
        << QStringList{"get firm_len: 2048", "firmware packet update success "} << QStringList() << QString();
    QTest::newRow("rewind on 0x85 still succeeds")
        << (small + QStringList{"--fail-frame", "3", "--fail-code", "85"}) << "module" << 1000 << 0 << 1024
        << QStringList{"------------------error 1164", "firmware packet update success "} << QStringList()
        << QString();
    QTest::newRow("other RETURN FAIL resynchronises")
        << (small + QStringList{"--fail-frame", "3", "--fail-code", "02"}) << "module" << 1000 << 0 << 1024
        << QStringList{"------------------error  1168", "firmware packet update success "} << QStringList()
        << QString();
    QTest::newRow("three time-outs in a row end the session")
        << (small + QStringList{"--drop-reply", "3", "--drop-reply", "4", "--drop-reply", "5"}) << "module"
        << 1000 << 1 << -1
        << QStringList{"firmware packet send timeout 0", "firmware packet send timeout 1",
                       "firmware packet send timeout 2"}
        << QStringList() << "packet 1 of split 0 not answered 3 times in a row, giving up";
    QTest::newRow("FIRMWARE OVER answered otherwise")
        << (small + QStringList{"--over-reply", "06"}) << "module" << 1000 << 1 << 1024
        << QStringList{"firmware packet send error"} << QStringList()
        << "FIRMWARE OVER answered with FIRMWARE CONTINUE instead of RETURN SUCCESS";
    QTest::newRow("demo board sends its request by itself")
        << (small + QStringList{"--target", "demo", "--demo-delay", "300"}) << "demo" << 600 << 0 << 768
        << QStringList{"firmware packet update success "} << QStringList() << QString();
    QTest::newRow("gateway on the serial port")
        << (small + QStringList{"--target", "gateway"}) << "gateway" << 600 << 0 << 768
        << QStringList{"firmware packet update success "} << QStringList() << QString();
    // A module that acknowledges its commands: the answers are no bootloader request.
    QTest::newRow("module answering its commands")
        << (small + QStringList{"--module-answers", "--baud", "9600"}) << "module" << 300 << 0 << 512
        << QStringList{"trying to connect device 0", "get splitLen: 256", "firmware packet update success "}
        << QStringList{"-b", "9600"} << QString();
    // The panel's first rate: a packet frame needs longer on the line than its reply wait.
    QTest::newRow("1200 baud") << (small + QStringList{"--baud", "1200"}) << "module" << 200 << 0 << 256
                               << QStringList{"firmware packet update success "} << QStringList{"-b", "1200"}
                               << QString();
    // The device asks again before the silence after its RETURN FAIL has passed: both frames come
    // in one burst, and the second is still a reply.
    QTest::newRow("new request right behind RETURN FAIL at 1200 baud")
        << (small +
            QStringList{"--baud", "1200", "--fail-frame", "2", "--fail-code", "02", "--restart-delay", "20"})
        << "module" << 200 << 0 << 256
        << QStringList{"------------------error  1168", "get splitLen: 256",
                       "firmware packet update success "}
        << QStringList{"-b", "1200"} << QString();
    QTest::newRow("lowest accepted rate")
        << QStringList{"--split-len", "64", "--uart-len", "32", "--baud", "300", "--module-answers"}
        << "module" << 50 << 0 << 64 << QStringList{"firmware packet update success "}
        << QStringList{"-b", "300"} << QString();

    // BROKER stands for the test's broker; the device is then a gateway on it.
    const QStringList gateway = small + QStringList{"--mqtt", "BROKER", "--gateway", "GW1"};
    const QStringList throughBroker{"--mqtt", "BROKER", "--gateway", "GW1"};
    QTest::newRow("through the broker")
        << gateway << "gateway" << 1000 << 0 << 1024
        << QStringList{"trying to connect device 0", "get splitLen: 256", "firmware packet update success "}
        << throughBroker << QString();
    QTest::newRow("through the broker, unrelated messages in the same moment as each answer")
        << (gateway + QStringList{"--chatter", "7", "--chatter-replies"}) << "gateway" << 1000 << 0 << 1024
        << QStringList{"get firm_len: 1000", "firmware packet update success "} << throughBroker << QString();
    // Every answer comes after the packet's fixed wait: the waits must follow the round trips.
    for (const QString &hopMs : {QStringLiteral("1050"), QStringLiteral("1500")})
        QTest::newRow(qPrintable(QStringLiteral("through the broker, a radio hop of %1 ms").arg(hopMs)))
            << QStringList{"--split-len", "128",       "--uart-len", "128",           "--mqtt",
                           "BROKER",      "--gateway", "GW1",        "--reply-delay", hopMs}
            << "gateway" << 100 << 0 << 128 << QStringList{"firmware packet update success "} << throughBroker
            << QString();
    QTest::newRow("through the broker, a lost answer")
        << (gateway + QStringList{"--drop-reply", "3"}) << "gateway" << 1000 << 0 << 1024
        << QStringList{"firmware packet send timeout 0", "firmware packet update success "} << throughBroker
        << QString();
}

void tst_Flash::wholeUpdates()
{
    QFETCH(QStringList, deviceArgs);
    QFETCH(QString, target);
    QFETCH(int, imageSize);
    QFETCH(int, exitCode);
    QFETCH(int, receivedSize);
    QFETCH(QStringList, expectedLines);
    QFETCH(QStringList, flashArgs);
    QFETCH(QString, error);

    const QByteArray image = patternImage(imageSize);
    const QString imagePath = writeImage(image);
    const QString received = dir.filePath(QStringLiteral("received-%1.bin").arg(imageCount));
    deviceArgs.replaceInStrings(QStringLiteral("BROKER"), broker.address());
    flashArgs.replaceInStrings(QStringLiteral("BROKER"), broker.address());
    DevsimProcess device;
    QVERIFY(device.start(deviceArgs + QStringList{"--output", received}));

    if (!flashArgs.contains(QStringLiteral("--mqtt")))
        flashArgs << QStringList{"-p", device.portPath()};
    const FlashRun run = runFlash(flashArgs + QStringList{"-t", target, imagePath});
    QCOMPARE(run.exitCode, exitCode);
    // A failed update says why in one line, and so does the last console line before the report.
    QCOMPARE(run.errors.trimmed(), error.isEmpty() ? QString() : QStringLiteral("plovikkit-flash: ") + error);

    // Every stdout line is a console line, time-stamped as the window's log shows it.
    const QRegularExpression consoleLine(
        QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d - \\(set-65\\): (.*)$"));
    QStringList texts;
    for (const QString &line : run.lines) {
        const QRegularExpressionMatch match = consoleLine.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        texts << match.captured(1);
    }
    int from = 0;
    for (const QString &expected : expectedLines) {
        const int at = texts.indexOf(expected, from);
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("missing or out of order: \"%1\"\n%2")
                                         .arg(expected, texts.join(QLatin1Char('\n')))));
        from = at + 1;
    }
    QVERIFY(texts.last().startsWith(QStringLiteral("firmware update process over, use time=")));

    device.stop();
    if (receivedSize < 0) {
        QVERIFY(!QFile::exists(received));
        return;
    }
    QFile file(received);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray got = file.readAll();
    QCOMPARE(got.size(), receivedSize);
    QCOMPARE(got.left(imageSize), image);
    QCOMPARE(got.mid(imageSize), QByteArray(receivedSize - imageSize, char(0xFF)));
}

void tst_Flash::usageAndPortErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("no port") << QStringList{"IMAGE"} << 2 << "no serial port";
    QTest::newRow("no image") << QStringList{"-p", "/dev/null"} << 2 << "exactly one firmware image";
    QTest::newRow("unknown option") << QStringList{"--frobnicate", "IMAGE"} << 2 << "frobnicate";
    QTest::newRow("bad target") << QStringList{"-p", "x", "-t", "toaster", "IMAGE"} << 2 << "invalid target";
    QTest::newRow("bad baud") << QStringList{"-p", "x", "-b", "fast", "IMAGE"} << 2 << "invalid baud rate";
    QTest::newRow("baud too low for the waits")
        << QStringList{"-p", "x", "-b", "200", "IMAGE"} << 2 << "baud rate 200 is not supported";
    QTest::newRow("missing image") << QStringList{"-p", "x", "MISSING"} << 2 << "does not exist";
    QTest::newRow("empty image") << QStringList{"-p", "x", "EMPTY"} << 2 << "is empty";
    QTest::newRow("image of 2 GiB") << QStringList{"-p", "x", "HUGE"} << 2
                                    << "is too large: 2147483648 bytes";
    QTest::newRow("image that is a FIFO") << QStringList{"-p", "x", "FIFO"} << 2 << "is not a regular file";
    QTest::newRow("more connect attempts than a session makes")
        << QStringList{"-p", "x", "--connect-attempts", "11", "IMAGE"} << 2 << "give 1 to 10";
    QTest::newRow("port cannot be opened")
        << QStringList{"-p", "/nonexistent/ttyUSB9", "IMAGE"} << 3 << "cannot open port";
    QTest::newRow("image and cloud record")
        << QStringList{"-p", "x", "--cloud-id", "3", "IMAGE"} << 2 << "not both";
    QTest::newRow("list without password")
        << QStringList{"--list-firmware", "--account", "a"} << 2 << "--password";
    QTest::newRow("no cloud service") << QStringList{"-p", "x", "--cloud-id", "3"} << 4 << "no cloud service";
    QTest::newRow("no gateway id") << QStringList{"--mqtt", "localhost", "IMAGE"} << 2 << "no gateway id";
    QTest::newRow("gateway id with a wildcard")
        << QStringList{"--mqtt", "localhost", "--gateway", "G+", "IMAGE"} << 2
        << "cannot stand in an MQTT topic";
    QTest::newRow("station option without --station")
        << QStringList{"-p", "x", "--count", "3", "IMAGE"} << 2 << "--count needs --station";
    QTest::newRow("station through a broker") << QStringList{"--station", "--mqtt", "localhost", "IMAGE"} << 2
                                              << "--mqtt does not go with --station";
    QTest::newRow("station probing too often")
        << QStringList{"--station", "--probe-interval", "5", "IMAGE"} << 2 << "--probe-interval takes 100 to";
    QTest::newRow("module commands need the serial port")
        << QStringList{"--mqtt", "localhost", "--gateway", "G", "-t", "module", "IMAGE"} << 2
        << "serial port";
}

void tst_Flash::usageAndPortErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString image = writeImage("\x01\x02\x03");
    const QString empty = writeImage(QByteArray());
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^IMAGE$")), image);
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^EMPTY$")), empty);
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^MISSING$")), dir.filePath("missing.bin"));
    if (arguments.contains(QStringLiteral("HUGE"))) {
        QFile huge(dir.filePath(QStringLiteral("huge.bin")));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(1) << 31)); // sparse: no disk used
        arguments.replaceInStrings(QStringLiteral("HUGE"), huge.fileName());
    }
    if (arguments.contains(QStringLiteral("FIFO"))) {
        const QString fifo = dir.filePath(QStringLiteral("fifo.bin"));
        QVERIFY(QFileInfo::exists(fifo) || ::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        arguments.replaceInStrings(QStringLiteral("FIFO"), fifo);
    }
    arguments.replaceInStrings(QStringLiteral("UNUSED"), QString::number(BrokerProcess::unusedPort()));

    const FlashRun run = runFlash(arguments, 10000);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.errors.contains(message), qPrintable(run.errors));
    QCOMPARE(run.errors.trimmed().count(QLatin1Char('\n')), 0); // one clear line
    QVERIFY(run.lines.isEmpty());
}

void tst_Flash::listPortsIncludesExtraPorts()
{
    DevsimProcess device;
    const QString link = dir.filePath(QStringLiteral("ttyLISTED"));
    QVERIFY(device.start({"--link", link}));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // A folder and a regular file are no serial lines, whatever the variable says.
    const QString file = writeImage("x");
    env.insert(QStringLiteral("PLOVIKKIT_EXTRA_PORTS"),
               QStringList{link, "/nonexistent/tty", dir.path(), file}.join(QLatin1Char(':')));
    const FlashRun run = runFlash({"--list-ports", "--trace"}, 10000, env);
    QCOMPARE(run.exitCode, 0);
    QStringList names;
    for (const QString &line : run.lines)
        names << line.section(QLatin1Char(' '), 0, 0);
    QVERIFY(names.contains(link));
    for (const QString &skipped : {QStringLiteral("/nonexistent/tty"), dir.path(), file}) {
        QVERIFY(!names.contains(skipped));
        QVERIFY2(run.errors.contains(QStringLiteral("skipped ") + skipped), qPrintable(run.errors));
    }
}

void tst_Flash::serialNumberNamesTheAdapterItHasNow()
{
    DevsimProcess a, b, c;
    QHash<DevsimProcess *, int> startLog;
    for (DevsimProcess *device : {&a, &b, &c}) {
        QVERIFY(device->start({"--baud", "115200"}));
        QTRY_VERIFY(!device->log().isEmpty());
        startLog.insert(device, device->log().size());
    }
    const auto run = [&](const QStringList &extraPorts, const QStringList &arguments) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PLOVIKKIT_EXTRA_PORTS"), extraPorts.join(QLatin1Char(':')));
        return runFlash(arguments, 60000, env);
    };
    const QString image = writeImage(patternImage(1500));
    const QStringList bench{a.portPath() + "=SN1", b.portPath() + "=SN2", c.portPath() + "=SN2"};
    QVERIFY(run(bench, {"--list-ports"}).lines.contains(a.portPath() + " virtual port serial=SN1"));
    QCOMPARE(run(bench, {"-p", "serial:SN1", "-p", a.portPath(), image}).exitCode, 2);

    QJsonObject summary;
    const auto done = [&](const FlashRun &flash, const char *target, const char *field) {
        return doneEvents(flash.lines, &summary).value(target).value(field).toString();
    };
    const FlashRun first =
        run(bench, {"--json", "-p", "serial:SN1", "-p", "serial:SN2", "-p", "serial:NONE", image});
    QCOMPARE(done(first, "serial:SN1", "result"), QStringLiteral("success"));
    QCOMPARE(done(first, "serial:SN2", "kind"), QStringLiteral("link-lost"));
    QVERIFY(done(first, "serial:SN2", "reason")
                .endsWith("two adapters with serial number SN2: " + b.portPath() + ", " + c.portPath()));
    QVERIFY(done(first, "serial:NONE", "reason").endsWith("no adapter with serial number NONE"));
    QTRY_VERIFY(a.log().size() > startLog.value(&a));
    const int framesOnA = a.log().size();
    QCOMPARE(b.log().size() + c.log().size(), startLog.value(&b) + startLog.value(&c));

    // Re-plugged: SN1 is now on the tty that was b's.
    const FlashRun replug = run({b.portPath() + "=SN1"}, {"--json", "-p", "serial:SN1", image});
    QCOMPARE(done(replug, "serial:SN1", "result"), QStringLiteral("success"));
    QTRY_VERIFY(b.log().size() > startLog.value(&b));
    QCOMPARE(a.log().size(), framesOnA);
}

void tst_Flash::linkLostMidUpdateEndsTheSession_data()
{
    QTest::addColumn<bool>("throughBroker");
    QTest::addColumn<QString>("error");

    QTest::newRow("serial device vanishes") << false << "plovikkit-flash: serial port ";
    QTest::newRow("broker stops") << true << "plovikkit-flash: the MQTT broker is not connected: ";
}

void tst_Flash::linkLostMidUpdateEndsTheSession()
{
    QFETCH(bool, throughBroker);
    QFETCH(QString, error);
    // At 9600 baud, or with every answer 20 ms late, a 16 KiB image takes seconds: plenty of
    // time to pull the plug.
    const QString imagePath = writeImage(patternImage(16 * 1024));
    BrokerProcess ownBroker;
    QVERIFY(!throughBroker || ownBroker.start());
    const QStringList gateway{"--mqtt", ownBroker.address(), "--gateway", "GW9"};
    DevsimProcess device;
    QVERIFY(device.start(throughBroker ? gateway + QStringList{"--reply-delay", "20"}
                                       : QStringList{"--baud", "9600"}));

    QProcess flash;
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                (throughBroker ? gateway : QStringList{"-p", device.portPath(), "-b", "9600"}) +
                    QStringList{imagePath});
    QVERIFY(flash.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(flash.peek(1 << 20).contains("firmware packet sending - "), 10000);
    if (throughBroker)
        ownBroker.stop();
    else
        device.stop();

    QVERIFY(flash.waitForFinished(30000));
    QCOMPARE(flash.exitStatus(), QProcess::NormalExit);
    QCOMPARE(flash.exitCode(), 3);
    const QString output = QString::fromUtf8(flash.readAllStandardOutput());
    QVERIFY(output.contains(QStringLiteral("firmware update process over, use time=")));
    // The session ends with the loss, without writing on into a lost link until time-outs.
    QVERIFY2(!output.contains(QStringLiteral("firmware packet send timeout")), qPrintable(output));
    const QString errors = QString::fromLocal8Bit(flash.readAllStandardError()).trimmed();
    QVERIFY2(errors.startsWith(error) && !errors.contains(QLatin1Char('\n')), qPrintable(errors));
    QVERIFY(throughBroker || errors.contains(" lost: "));
}

void tst_Flash::brokerFrozenMidUpdate_data()
{
    QTest::addColumn<int>("frozenMs");
    QTest::addColumn<int>("gateways");
    QTest::newRow("5 s") << 5000 << 1;
    QTest::newRow("2 s, three gateways") << 2000 << 3;
}

// A broker that stalls in the middle of the packets holds a frame or its answer: the waits time
// out, frames are sent again, and later every held answer comes at once. Each answer must still
// be taken for its own frame, so every device confirms its image.
void tst_Flash::brokerFrozenMidUpdate()
{
    QFETCH(int, frozenMs);
    QFETCH(int, gateways);
    const QByteArray image = patternImage(4096);
    BrokerProcess ownBroker;
    QVERIFY(ownBroker.start());
    DevsimProcess device;
    // One device's file is named as given, several need their names in it.
    const QString output =
        dir.filePath(QStringLiteral("frozen-%1-%2.bin").arg(++imageCount).arg(gateways > 1 ? "{}" : "one"));
    QVERIFY(device.start({"--mqtt", ownBroker.address(), "--gateways", QString::number(gateways),
                          "--gateway-prefix", "FZ", "--reply-delay", "50", "--output", output},
                         gateways));
    QStringList flashArgs{"--mqtt", ownBroker.address(), "--json"};
    for (const QString &id : device.readyNames())
        flashArgs << "--gateway" << id;
    QProcess flash;
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")), flashArgs << writeImage(image));
    QVERIFY(flash.waitForStarted());
    // Frame 4 is the third packet of the first split; its answer is still on the radio hop.
    QTRY_VERIFY_WITH_TIMEOUT(device.log().contains(QStringLiteral("frame 4 FIRMWARE PACKET")), 10000);
    ownBroker.freeze();
    QTest::qWait(frozenMs);
    ownBroker.thaw();

    // It may have given up already; one that runs on says where it stands.
    if (flash.state() != QProcess::NotRunning && !flash.waitForFinished(60000))
        QFAIL(flash.readAllStandardError().right(2000) + flash.readAllStandardOutput().right(6000));
    const QString lines = QString::fromUtf8(flash.readAllStandardOutput());
    QVERIFY2(flash.exitCode() == 0, qPrintable(lines));
    QVERIFY2(lines.contains(QStringLiteral("firmware packet send timeout 0")), qPrintable(lines));
    // In step all along: no answer was taken for the next frame's, up to FIRMWARE OVER.
    QVERIFY2(!lines.contains(QStringLiteral("still waiting for FIRMWARE OVER")), qPrintable(lines));
    for (const QString &id : device.readyNames()) {
        QFile received(QString(output).replace(QStringLiteral("{}"), id));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll(), image);
    }
}

void tst_Flash::stdoutThatTakesNothing_data()
{
    QTest::addColumn<QString>("redirect");
    QTest::addColumn<QString>("reason");
    QTest::newRow("reader gone (| head -1)") << "| head -1 >/dev/null"
                                             << "Broken pipe";
    QTest::newRow("full disk") << ">/dev/full"
                               << "No space left on device";
}

// The update still ends, and ends well; the run says what was lost and does not count as clean.
void tst_Flash::stdoutThatTakesNothing()
{
    QFETCH(QString, redirect);
    QFETCH(QString, reason);
    const QByteArray image = patternImage(4000);
    const QString received = dir.filePath(QStringLiteral("received-pipe.bin"));
    DevsimProcess device;
    QVERIFY(device.start({"--baud", "115200", "--output", received}));
    QProcess flash;
    flash.start(QStringLiteral("bash"), {"-c", "\"$0\" \"$@\" " + redirect + "; exit ${PIPESTATUS[0]}",
                                         DevsimProcess::binary(QStringLiteral("plovikkit-flash")), "-p",
                                         device.portPath(), writeImage(image)});
    QVERIFY(flash.waitForFinished(30000));
    QCOMPARE(flash.exitStatus(), QProcess::NormalExit);
    QCOMPARE(flash.exitCode(), 1);
    QCOMPARE(QString::fromLocal8Bit(flash.readAllStandardError()).trimmed(),
             "plovikkit-flash: cannot write to standard output: " + reason);
    device.stop();
    QFile file(received);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().left(image.size()), image);
}

void tst_Flash::stalledReader_data()
{
    QTest::addColumn<int>("signalCount"); // SIGTERMs sent while nothing is read
    QTest::newRow("no signal: the updates run to their end") << 0;
    QTest::newRow("SIGTERM stops the sessions") << 1;
    QTest::newRow("a second SIGTERM ends the process at once") << 2;
}

// A JSON reader that takes nothing: the sessions go on (or stop on a signal) all the same,
// console lines beyond the buffer are dropped and counted, the done events and the summary are not.
void tst_Flash::stalledReader()
{
    QFETCH(int, signalCount);
    DevsimProcess devices;
    const QStringList paced = signalCount > 0 ? QStringList{"--baud", "9600"} : QStringList();
    const QString output = dir.filePath(QStringLiteral("stalled-%1-{}.bin").arg(signalCount));
    QVERIFY(devices.start(
        paced + QStringList{"--ports", "3", "--split-len", "64", "--uart-len", "16", "--output", output}, 3));
    QStringList arguments =
        QStringList{"--json"} + (signalCount > 0 ? QStringList{"-b", "9600"} : QStringList());
    for (const QString &port : devices.readyNames())
        arguments << "-p" << port;
    const QByteArray image = patternImage(64 * 1024);
    StalledPipe pipe;
    QProcess flash;
    flash.setStandardOutputFile(pipe.writerPath());
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")), arguments << writeImage(image));
    QVERIFY(flash.waitForStarted());
    pipe.closeWriter();
    if (signalCount == 0) {
        for (int port = 1; port <= 3; ++port)
            QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(QString(output).replace("{}", QString::number(port))).size(),
                                      qint64(image.size()), 30000);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(pipe.isFull(), 20000);
        ::kill(pid_t(flash.processId()), SIGTERM);
        QByteArray errors;
        QTRY_VERIFY_WITH_TIMEOUT((errors += flash.readAllStandardError()).contains("stopped by signal"),
                                 10000);
        if (signalCount == 2) {
            ::kill(pid_t(flash.processId()), SIGTERM);
            QVERIFY(flash.waitForFinished(10000));
            QCOMPARE(flash.exitStatus(), QProcess::CrashExit);
            QCOMPARE(flash.exitCode(), int(SIGTERM));
            return;
        }
        QVERIFY(flash.waitForFinished(15000)); // nothing read: the output is given up in bounded time
        QCOMPARE(flash.exitCode(), 1);
        return;
    }
    const QByteArray written = pipe.readAll();
    QVERIFY(flash.waitForFinished(10000));
    QCOMPARE(flash.exitCode(), 0);
    QCOMPARE(jsonEvents(written, "done").size(), 3);
    const QList<QJsonObject> summary = jsonEvents(written, "summary");
    QCOMPARE(summary.size(), 1);
    const int dropped = summary.first().value("dropped").toInt();
    QVERIFY(dropped > 0);
    QVERIFY2(flash.readAllStandardError().contains(QByteArray::number(dropped) + " console lines dropped"),
             qPrintable(QString::number(dropped)));
}

// Eight ports on a terminal of six rows: the board keeps to five rows, says how many more run,
// and is drawn a few times a second however many lines go by.
void tst_Flash::boardOnASmallTerminal()
{
    Pty terminal;
    QVERIFY(terminal.isValid());
    winsize size{};
    size.ws_row = 6;
    size.ws_col = 70;
    QVERIFY(::ioctl(terminal.master, TIOCSWINSZ, &size) == 0);
    DevsimProcess devices;
    QVERIFY(devices.start({"--ports", "8", "--baud", "115200", "--split-len", "256", "--uart-len", "32"}, 8));
    QStringList arguments;
    for (const QString &port : devices.readyNames())
        arguments << "-p" << port;
    QProcess flash;
    flash.setStandardOutputFile(terminal.slavePath);
    flash.setStandardErrorFile(terminal.slavePath);
    QElapsedTimer clock;
    clock.start();
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                arguments << writeImage(patternImage(8 * 1024)));
    QVERIFY(flash.waitForStarted());
    QByteArray screen;
    while (flash.state() != QProcess::NotRunning) {
        QTest::qWait(20); // the devices' logs are read meanwhile
        screen += terminal.receive(0);
    }
    const qint64 ms = clock.elapsed();
    screen += terminal.receive(100);
    QVERIFY2(flash.exitCode() == 0, screen.right(2000).constData());
    QVERIFY(screen.contains("\xE2\x80\xA6 4 more")); // "… 4 more" after four rows of the board
    const QRegularExpression takeOff(QStringLiteral("\x1b\\[(\\d+)A\x1b\\[J"));
    int drawings = 0;
    for (auto match = takeOff.globalMatch(QString::fromUtf8(screen)); match.hasNext(); ++drawings)
        QVERIFY(match.next().captured(1).toInt() <= 5);
    QVERIFY2(drawings <= 4 * ms / 1000 + 4, qPrintable(QStringLiteral("%1 in %2 ms").arg(drawings).arg(ms)));
}

// With room for a few ports only, the others wait for a free one instead of failing.
void tst_Flash::portsBeyondTheOpenFileLimitWait()
{
    DevsimProcess devices;
    QVERIFY(devices.start({"--ports", "24"}, 24));
    QStringList arguments{"-c", "ulimit -n 64; exec \"$0\" \"$@\"",
                          DevsimProcess::binary(QStringLiteral("plovikkit-flash")), "--json"};
    for (const QString &port : devices.readyNames())
        arguments << "-p" << port;
    QProcess flash;
    flash.start(QStringLiteral("sh"), arguments << writeImage(patternImage(1000)));
    QTRY_VERIFY_WITH_TIMEOUT(flash.state() == QProcess::NotRunning, 60000);
    const QByteArray output = flash.readAllStandardOutput();
    const QString errors = QString::fromLocal8Bit(flash.readAllStandardError());
    QVERIFY2(flash.exitCode() == 0, qPrintable(errors));
    QCOMPARE(jsonEvents(output, "summary").value(0).value("succeeded").toInt(), 24);
    QVERIFY2(errors.contains("the open-file limit is 64"), qPrintable(errors));
}

void tst_Flash::cloudCatalogue_data()
{
    QTest::addColumn<QStringList>("arguments"); // PORT: the simulated device
    QTest::addColumn<QByteArray>("replies");    // scripted replies of scripts/cloud-sim
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("lines"); // all of stdout for a list, some console texts for a flash
    QTest::addColumn<QString>("error");

    const QStringList list{"--list-firmware", "--account", "demo", "--password", "s3cret pw"};
    const QStringList flash{"-p", "PORT", "--cloud-id"};
    QTest::newRow("list") << list << QByteArray("{}") << 0
                          << QStringList{"1\tble_v1.bin\t300\tBLE module", "2\tgw.bin\t200\t"} << QString();
    QTest::newRow("list, filtered") << list + QStringList{"--filter", "ble"} << QByteArray("{}") << 0
                                    << QStringList{"1\tble_v1.bin\t300\tBLE module"} << QString();
    QTest::newRow("list, members of other types")
        << list << QByteArray(R"({"/file_infor/get": {"json": {"code": 200, "message": [
               {"id": "7", "originFileName": 5, "length": "9", "infor": "x"}, {"id": 8}]}}})")
        << 0 << QStringList{"\t\t\tx", "8\t\t\t"} << QString();
    QTest::newRow("no role") << list
                             << QByteArray(R"({"/user_infor/get": {"json": {"code": 200, "message": [{}]}}})")
                             << 4 << QStringList() << "no numeric role";
    QTest::newRow("catalogue refused")
        << list << QByteArray(R"({"/file_infor/get": {"json": {"code": "200", "message": []}}})") << 4
        << QStringList() << "no success: code 200";
    QTest::newRow("flash a record") << flash + QStringList{"2"} << QByteArray("{}") << 0
                                    << QStringList{"use netserver firmware", "firmware packet update success"}
                                    << QString();
    QTest::newRow("refused download") << flash + QStringList{"9"} << QByteArray("{}") << 4 << QStringList()
                                      << "record 9 is not in the catalogue";
    const auto download = [](const QByteArray &reply) { return R"({"/file/download": )" + reply + '}'; };
    QTest::newRow("redirect") << flash + QStringList{"2"}
                              << download(
                                     R"({"status": 302, "headers": {"Location": "/x"}, "body": "Found."})")
                              << 4 << QStringList() << R"(HTTP status 302 Found, redirecting to "/x")";
    QTest::newRow("cut short") << flash + QStringList{"2"}
                               << download(R"({"hex": ")" + patternImage(100).toHex() +
                                           R"(", "close": true})")
                               << 4 << QStringList() << "100 bytes where the record gives 200";
    QTest::newRow("endless") << flash + QStringList{"2"} << download(R"({"endless": true})") << 4
                             << QStringList() << "sent more than 200 bytes; reading stopped";
    QTest::newRow("record without length")
        << flash + QStringList{"8"} << QByteArray(R"({"/file_infor/get": {"json": {"code": 200, "message": [
               {"id": 8}]}}})")
        << 4 << QStringList() << "record 8 gives no usable length";
}

void tst_Flash::cloudCatalogue()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, replies);
    QFETCH(int, exitCode);
    QFETCH(QStringList, lines);
    QFETCH(QString, error);
    QTemporaryDir images;
    const QByteArray firmware = patternImage(200);
    for (const auto &[name, content] : {std::pair<QString, QByteArray>{"ble_v1.bin", patternImage(300)},
                                        {"ble_v1.txt", "BLE module\n"},
                                        {"gw.bin", firmware}}) {
        QFile file(images.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    }
    CloudSimProcess server;
    QVERIFY(server.start(images.path(), {"--password", "s3cret pw"}));
    server.setReplies(QJsonDocument::fromJson(replies).object());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PLOVIKKIT_CLOUD_URL", server.url());
    const QString received = images.filePath("received.bin");
    DevsimProcess device;
    const bool flashing = arguments.contains("PORT");
    if (flashing) {
        QVERIFY(device.start({"--split-len", "256", "--output", received}));
        arguments.replaceInStrings(QRegularExpression("^PORT$"), device.portPath());
    }

    const FlashRun run = runFlash(arguments + QStringList{"--trace"}, 60000, env);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(run.errors.contains(error), qPrintable(run.errors));
    const QByteArray digest = QCryptographicHash::hash("s3cret pw", QCryptographicHash::Sha512).toHex();
    QVERIFY(!run.errors.contains("s3cret") && !run.errors.contains(digest)); // --trace shows no password
    if (!flashing)
        QCOMPARE(run.lines, lines);
    for (const QString &line : lines)
        QVERIFY2(run.lines.join('\n').contains(line), qPrintable(run.lines.join('\n')));
    device.stop();
    QCOMPARE(device.log().contains("module command"), flashing && exitCode == 0); // refused: not one byte
    QFile sent(received);
    QCOMPARE(sent.open(QIODevice::ReadOnly) ? sent.readAll().left(firmware.size()) : QByteArray(),
             flashing && exitCode == 0 ? firmware : QByteArray());
}

// Three gateways behind one broker, one of which refuses the image: the others succeed, and
// every stdout line is a JSON object, with one "done" per target and the summary last.
void tst_Flash::fleetThroughOneBrokerInJson()
{
    const QByteArray image = patternImage(3000);
    const QString imagePath = writeImage(image);
    DevsimProcess gateways[3];
    const QStringList ids{"FA", "FB", "FC"};
    for (int i = 0; i < 3; ++i) {
        QStringList args{"--mqtt",    broker.address(),
                         "--gateway", ids.at(i),
                         "--output",  dir.filePath(QStringLiteral("fleet-%1.bin").arg(ids.at(i)))};
        if (ids.at(i) == QLatin1String("FB"))
            args << QStringList{"--fail-frame", "1", "--restart-delay", "-1"};
        QVERIFY(gateways[i].start(args));
    }
    const FlashRun run = runFlash({"--mqtt", broker.address(), "--gateway", "FA", "--gateway", "FB",
                                   "--gateway", "FC", "--json", imagePath});
    QCOMPARE(run.exitCode, 1);
    QHash<QString, QString> results;
    QJsonObject summary;
    for (const QString &line : run.lines) {
        QJsonParseError error{};
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(line));
        if (event.value("event") == QLatin1String("done")) {
            QVERIFY2(!results.contains(event.value("target").toString()), qPrintable(line));
            results.insert(event.value("target").toString(), event.value("result").toString());
            QCOMPARE(event.value("kind").toString(), event.value("target") == "FB" ? "refused" : "");
        }
        if (event.value("event") == QLatin1String("summary"))
            summary = event;
    }
    QCOMPARE(QJsonDocument::fromJson(run.lines.last().toUtf8()).object(), summary);
    QCOMPARE(results.value("FA"), QStringLiteral("success"));
    QCOMPARE(results.value("FB"), QStringLiteral("failed"));
    QCOMPARE(results.value("FC"), QStringLiteral("success"));
    QCOMPARE(summary.value("succeeded").toInt(), 2);
    QCOMPARE(summary.value("failed").toInt(), 1);
    for (const QString &id : {QStringLiteral("FA"), QStringLiteral("FC")}) {
        QFile received(dir.filePath(QStringLiteral("fleet-%1.bin").arg(id)));
        QVERIFY(received.open(QIODevice::ReadOnly));
        QCOMPARE(received.readAll().left(image.size()), image);
    }
}

// Two devices on ptys and a port that does not exist: only that one fails, and every console
// line says whose it is.
void tst_Flash::fleetOverSerialPorts()
{
    DevsimProcess first;
    DevsimProcess second;
    QVERIFY(first.start({"--baud", "115200"}));
    QVERIFY(second.start({"--baud", "115200"}));
    const QString missing = dir.filePath(QStringLiteral("no-such-tty"));
    const FlashRun run = runFlash(
        {"-p", first.portPath(), "-p", missing, "-p", second.portPath(), writeImage(patternImage(2000))});
    QCOMPARE(run.exitCode, 1);
    for (const QString &port : {first.portPath(), second.portPath()}) {
        const QString prefix = QLatin1Char('[') + port + QStringLiteral("] ");
        QVERIFY(run.lines.filter(prefix).size() > 10);
        QVERIFY(run.lines.contains(
            prefix +
            run.lines.filter(prefix).filter("firmware packet update success").value(0).mid(prefix.size())));
    }
    QVERIFY(run.lines.filter(QLatin1Char('[') + missing).isEmpty());
    const QStringList table = run.errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(table.filter(missing).value(0).contains(QStringLiteral("failed")), qPrintable(run.errors));
    QCOMPARE(table.filter(QStringLiteral("success")).size(), 2);
}

void tst_Flash::fleetUsageErrorsSendNothing_data()
{
    // PORT: the simulated device, LINK: a symlink to it in the working directory, PTS: the device
    // named as under /dev ("pts/3"); FILE: the targets file, "-": the same text on stdin
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("targetsFile");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    const QStringList file{"-p", "PORT", "--targets", "FILE"};
    QTest::newRow("a port named twice")
        << QStringList{"-p", "PORT", "-p", "PORT"} << QByteArray() << 2 << "named twice";
    QTest::newRow("one device under two names")
        << QStringList{"-p", "PORT", "-p", "LINK"} << QByteArray() << 2 << "named twice";
    QTest::newRow("a device by its name under /dev and by a link")
        << QStringList{"-p", "PTS", "-p", "LINK"} << QByteArray() << 2 << "named twice";
    QTest::newRow("./NAME and NAME are two files, not one")
        << QStringList{"-p", "./link-to-device", "-p", "link-to-device"} << QByteArray() << 1
        << "cannot open port \"link-to-device\"";
    QTest::newRow("a port named again in the targets file")
        << file << QByteArray("# bench\n\nPORT\n") << 2 << "named twice";
    QTest::newRow("targets on stdin")
        << QStringList{"-p", "PORT", "--targets", "-"} << QByteArray("PORT\r\n") << 2 << "named twice";
    QTest::newRow("a NUL byte") << file << QByteArray("LINK\n\0LINK2\n", 12) << 2
                                << "targets.txt:2: a NUL byte";
    QTest::newRow("a NUL byte on stdin")
        << QStringList{"--targets", "-"} << QByteArray("LINK\0\n", 6) << 2 << "standard input:1: a NUL byte";
    QTest::newRow("UTF-16 with its byte order mark")
        << file << QByteArray("\xFF\xFEL\0I\0N\0K\0\n\0", 12) << 2 << "targets.txt:1: UTF-16 text";
    QTest::newRow("UTF-16 without one")
        << file << QByteArray("L\0I\0N\0K\0\n\0", 10) << 2 << "targets.txt:1: a NUL byte";
    QTest::newRow("not UTF-8") << file << QByteArray("# ok\nLINK\xC3\x28\n") << 2
                               << "targets.txt:2: not UTF-8 text";
    QTest::newRow("a control character in the file")
        << file << QByteArray("LINK\x1b[2J\n") << 2 << "targets.txt:1: a control character (U+001B)";
    QTest::newRow("a control character on the command line")
        << QStringList{"-p", "LINK\x07"} << QByteArray() << 2 << "a control character (U+0007)";
    QTest::newRow("a targets file that cannot be read")
        << QStringList{"-p", "PORT", "--targets", "/nonexistent/targets"} << QByteArray() << 2
        << "targets file";
    QTest::newRow("an empty gateway id")
        << QStringList{"--mqtt", "127.0.0.1", "--gateway", ""} << QByteArray() << 2 << "no gateway id";
    QTest::newRow("no parallel updates at all")
        << QStringList{"-p", "PORT", "--parallel", "0"} << QByteArray() << 2 << "--parallel takes 1 to 10000";
    QTest::newRow("an option given twice") << QStringList{"-p", "PORT", "--parallel", "3", "--parallel", "5"}
                                           << QByteArray() << 2 << "--parallel is given more than once";
}

void tst_Flash::fleetUsageErrorsSendNothing()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, targetsFile);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    DevsimProcess device;
    QVERIFY(device.start({"--target", "demo"}));
    const QString link = dir.filePath(QStringLiteral("link-to-device"));
    QFile::remove(link);
    QVERIFY(QFile::link(device.portPath(), link));
    const QString file = dir.filePath(QStringLiteral("targets.txt"));
    QFile targets(file);
    QVERIFY(targets.open(QIODevice::WriteOnly));
    targets.write(targetsFile.replace("PORT", device.portPath().toUtf8()));
    targets.close();
    const QStringList names{"PORT", "LINK", "PTS", "FILE"};
    const QStringList values{device.portPath(), link, device.portPath().mid(5), file};
    for (int i = 0; i < names.size(); ++i)
        arguments.replaceInStrings(QRegularExpression("^" + names.at(i)), values.at(i));
    QProcess flash;
    flash.setWorkingDirectory(dir.path());
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                arguments << writeImage("\x01\x02"));
    flash.write(targetsFile);
    flash.closeWriteChannel();
    QTRY_VERIFY_WITH_TIMEOUT(flash.state() == QProcess::NotRunning, 30000);
    const QString errors = QString::fromLocal8Bit(flash.readAllStandardError());
    QCOMPARE(flash.exitCode(), exitCode);
    QVERIFY2(errors.contains(message), qPrintable(errors));
    if (exitCode == 2) {
        QVERIFY(flash.readAllStandardOutput().isEmpty());
        QVERIFY(!device.log().contains(QStringLiteral("FIRMWARE LEN")));
    }
}

// SIGINT in the middle: every session ends at once with its report, the summary follows, and
// the ports are free again.
void tst_Flash::signalMidFleetEndsEverySession()
{
    DevsimProcess first;
    DevsimProcess second;
    QVERIFY(first.start({"--baud", "9600"}));
    QVERIFY(second.start({"--baud", "9600"}));
    QProcess flash;
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                {"-b", "9600", "-p", first.portPath(), "-p", second.portPath(), "--json",
                 writeImage(patternImage(16 * 1024))});
    QVERIFY(flash.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(flash.peek(1 << 20).count("firmware packet sending - ") >= 2, 10000);
    ::kill(pid_t(flash.processId()), SIGINT);
    QVERIFY(flash.waitForFinished(10000));
    QCOMPARE(flash.exitStatus(), QProcess::NormalExit);
    QCOMPARE(flash.exitCode(), 1);
    const QStringList lines =
        QString::fromUtf8(flash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    int done = 0;
    for (const QString &line : lines) {
        const QJsonObject event = QJsonDocument::fromJson(line.toUtf8()).object();
        if (event.value("event") == QLatin1String("done")) {
            ++done;
            QCOMPARE(event.value("reason").toString(), QStringLiteral("stopped by signal %1").arg(SIGINT));
        }
    }
    QCOMPARE(done, 2);
    QVERIFY(lines.last().contains(QStringLiteral("\"summary\"")));
    QVERIFY(
        QString::fromLocal8Bit(flash.readAllStandardError()).contains(QStringLiteral("stopped by signal")));
    for (const QString &port : {first.portPath(), second.portPath()}) {
        QSerialPort again(port);
        QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
    }
}

void tst_Flash::signalMidUpdateEndsItWithTheReport_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<bool>("ignoredByParent"); // as under nohup or `trap '' HUP`
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("SIGHUP") << int(SIGHUP) << false;
    QTest::newRow("SIGHUP ignored by whoever started it") << int(SIGHUP) << true;
}

// One device: the session ends at once, says why, writes its report and frees the port; a
// signal the flasher was started with as ignored changes nothing.
void tst_Flash::signalMidUpdateEndsItWithTheReport()
{
    QFETCH(int, signalNumber);
    QFETCH(bool, ignoredByParent);
    DevsimProcess device;
    QVERIFY(device.start({"--baud", "9600"}));
    QProcess flash;
    const QString trap = ignoredByParent ? QStringLiteral("trap '' %1; ").arg(signalNumber) : QString();
    flash.start(QStringLiteral("sh"),
                {"-c", trap + "exec \"$0\" \"$@\"", DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                 "-b", "9600", "-p", device.portPath(), writeImage(patternImage(4 * 1024))});
    QVERIFY(flash.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(flash.peek(1 << 20).contains("firmware packet sending - "), 10000);
    ::kill(pid_t(flash.processId()), signalNumber);
    QVERIFY(flash.waitForFinished(30000));
    QCOMPARE(flash.exitStatus(), QProcess::NormalExit);
    if (ignoredByParent) {
        QCOMPARE(flash.exitCode(), 0);
        QCOMPARE(flash.readAllStandardError(), QByteArray());
        return;
    }
    QCOMPARE(flash.exitCode(), 1);
    const QString reason = QStringLiteral("stopped by signal %1").arg(signalNumber);
    QCOMPARE(QString::fromLocal8Bit(flash.readAllStandardError()).trimmed(),
             QStringLiteral("plovikkit-flash: ") + reason);
    const QStringList lines =
        QString::fromUtf8(flash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    QVERIFY(lines.last().contains(QStringLiteral("firmware update process over, use time=")));
    QVERIFY(lines.at(lines.size() - 2).endsWith(reason));
    QSerialPort again(device.portPath());
    QVERIFY2(again.open(QIODevice::ReadWrite), qPrintable(again.errorString()));
}

void tst_Flash::brokerAbsentOrSilentAtTheStart_data()
{
    QTest::addColumn<bool>("silent"); // a listener that never answers, else nothing listens
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reason"); // of every target's "done"
    QTest::addColumn<QString>("error");

    QTest::newRow("nothing listens: skipped after the broker wait")
        << false << 3 << "not started: the MQTT broker was not reachable for 1 s"
        << "cannot connect to the MQTT broker 127.0.0.1:";
    QTest::newRow("SIGINT while the broker does not answer") << true << 1 << "stopped by signal 2"
                                                             << "stopped by signal 2";
}

// Nothing ran, yet every target gets its "done" and the summary follows.
void tst_Flash::brokerAbsentOrSilentAtTheStart()
{
    QFETCH(bool, silent);
    QTcpServer listener;
    const quint16 port = silent && listener.listen(QHostAddress::LocalHost) ? listener.serverPort()
                                                                            : BrokerProcess::unusedPort();
    QProcess flash;
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                {"--mqtt", QStringLiteral("127.0.0.1:%1").arg(port), "--gateway", "G1", "--gateway", "G2",
                 "--broker-wait", "1", "--json", writeImage("\x01\x02")});
    if (silent) {
        QVERIFY(listener.waitForNewConnection(10000));
        ::kill(pid_t(flash.processId()), SIGINT);
    }
    QVERIFY(flash.waitForFinished(20000));
    QTEST(flash.exitCode(), "exitCode");
    QJsonObject summary;
    const QHash<QString, QJsonObject> done = doneEvents(
        QString::fromUtf8(flash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), &summary);
    QCOMPARE(done.size(), 2);
    for (const QJsonObject &event : done) {
        QCOMPARE(event.value("result").toString(), QStringLiteral("skipped"));
        QFETCH(QString, reason);
        QVERIFY2(event.value("reason").toString().startsWith(reason),
                 qPrintable(event.value("reason").toString()));
    }
    QCOMPARE(summary.value("skipped").toInt(), 2);
    QFETCH(QString, error);
    QVERIFY(QString::fromLocal8Bit(flash.readAllStandardError()).contains(error));
}

// The broker restarts while the first of three gateways is updated: that one fails, the two
// that had not started wait for the broker and succeed.
void tst_Flash::fleetWaitsForARestartedBroker()
{
    BrokerProcess ownBroker;
    QVERIFY(ownBroker.start());
    const QStringList gateways{"--gateway", "RA", "--gateway", "RB", "--gateway", "RC"};
    const QStringList deviceArgs =
        QStringList{"--mqtt", ownBroker.address(), "--reply-delay", "20"} + gateways;
    DevsimProcess devices;
    QVERIFY(devices.start(deviceArgs, 3));
    QProcess flash;
    QVERIFY(startFlashUntil(flash,
                            QStringList{"--mqtt", ownBroker.address(), "--parallel", "1", "--json"} +
                                gateways + QStringList{writeImage(patternImage(8 * 1024))},
                            "firmware packet sending - "));
    ownBroker.stop();
    QVERIFY(ownBroker.restart());
    // The simulated gateways end with their broker.
    DevsimProcess devicesAgain;
    QVERIFY(devicesAgain.start(deviceArgs, 3));
    QVERIFY(flash.waitForFinished(60000));
    QJsonObject summary;
    const QHash<QString, QJsonObject> done = doneEvents(
        QString::fromUtf8(flash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), &summary);
    QCOMPARE(done.value("RA").value("result").toString(), QStringLiteral("failed"));
    QCOMPARE(done.value("RB").value("result").toString(), QStringLiteral("success"));
    QCOMPARE(done.value("RC").value("result").toString(), QStringLiteral("success"));
    QCOMPARE(summary.value("succeeded").toInt(), 2);
}

// A hung broker: the flasher says so within seconds, and no further target starts before the
// broker answers again.
void tst_Flash::frozenBrokerIsNoticedAndHoldsNewTargets()
{
    BrokerProcess ownBroker;
    QVERIFY(ownBroker.start());
    const QStringList gateways{"--gateway", "FZ1", "--gateway", "FZ2"};
    DevsimProcess devices;
    QVERIFY(devices.start(QStringList{"--mqtt", ownBroker.address(), "--reply-delay", "20"} + gateways, 2));
    QProcess flash;
    QVERIFY(startFlashUntil(flash,
                            QStringList{"--mqtt", ownBroker.address(), "--parallel", "1", "--json"} +
                                gateways + QStringList{writeImage(patternImage(8 * 1024))},
                            "firmware packet sending - "));
    ownBroker.freeze();
    QByteArray errors;
    while (!errors.contains("no answer from the broker for")) {
        QVERIFY(flash.state() == QProcess::Running);
        flash.waitForReadyRead(1000);
        errors += flash.readAllStandardError();
    }
    QVERIFY2(!flash.peek(1 << 24).contains("FZ2"), flash.peek(1 << 24).constData());
    ownBroker.thaw();
    // A silence that outlasted the keep-alive is ridden out by connecting again, whose backoff may
    // have grown meanwhile: slow, but it must end.
    if (!flash.waitForFinished(120000))
        QFAIL(errors + flash.readAllStandardError().right(3000) + flash.readAllStandardOutput().right(6000));
    QJsonObject summary;
    const QHash<QString, QJsonObject> done = doneEvents(
        QString::fromUtf8(flash.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts), &summary);
    QCOMPARE(done.value("FZ2").value("result").toString(), QStringLiteral("success"));
}

QTEST_GUILESS_MAIN(tst_Flash)
#include "tst_flash.moc"
