#include "tests/support/brokerprocess.h"
#include "tests/support/devsimprocess.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Every kind of object the flasher writes with --json holds to the documented schema: real runs
// of each mode, validated line by line.
class tst_Events : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void runsHoldToTheSchema_data();
    void runsHoldToTheSchema();
    void schemaRefuses_data();
    void schemaRefuses();

private:
    // The objects seen ("start line ..."), or the first line that broke the schema.
    bool validate(const QByteArray &lines, QString *result);
    QStringList expand(QStringList arguments) const;

    QTemporaryDir dir;
    BrokerProcess broker;
    DevsimProcess gateways;
    DevsimProcess good;
    DevsimProcess refusing;
    QString image;
};

void tst_Events::initTestCase()
{
    QVERIFY(dir.isValid());
    image = dir.filePath(QStringLiteral("image.bin"));
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(3000, '\x5A'));
    file.close();
    QVERIFY(broker.start());
    QVERIFY(gateways.start({"--mqtt", broker.address(), "--gateway", "GA", "--gateway", "GB", "--split-len",
                            "1024", "--uart-len", "128"},
                           2));
}

// Each run gets devices fresh from their bootloader.
void tst_Events::init()
{
    QVERIFY(good.start({"--split-len", "1024", "--uart-len", "128"}));
    QVERIFY(refusing.start({"--fail-frame", "1", "--restart-delay", "-1"}));
}

void tst_Events::cleanup()
{
    good.stop();
    refusing.stop();
}

QStringList tst_Events::expand(QStringList arguments) const
{
    arguments.replaceInStrings(QStringLiteral("{good}"), good.portPath());
    arguments.replaceInStrings(QStringLiteral("{refusing}"), refusing.portPath());
    arguments.replaceInStrings(QStringLiteral("{broker}"), broker.address());
    arguments.replaceInStrings(QStringLiteral("{image}"), image);
    return arguments;
}

bool tst_Events::validate(const QByteArray &lines, QString *result)
{
    QProcess python;
    python.start(QStringLiteral(PLOVIKKIT_PYTHON3),
                 {QStringLiteral(PLOVIKKIT_SOURCE_DIR "/tests/events/validate_events.py"),
                  QStringLiteral(PLOVIKKIT_SOURCE_DIR "/docs/events.schema.json")});
    python.write(lines);
    python.closeWriteChannel();
    python.waitForFinished(60000);
    *result = QString::fromUtf8(python.readAllStandardOutput() + python.readAllStandardError()).trimmed();
    return python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
}

// One row a mode; each names the objects its run must at least have written.
void tst_Events::runsHoldToTheSchema_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("objects");
    QTest::newRow("one target") << QStringList{"--json", "-p", "{good}", "{image}"}
                                << QStringList{"start", "line", "progress", "done", "summary"};
    QTest::newRow("serial fleet, one target refused")
        << QStringList{"--json", "-p", "{good}", "-p", "{refusing}", "-p", "/nonexistent/tty", "{image}"}
        << QStringList{"start", "line", "progress", "done", "summary"};
    QTest::newRow("canary refused, the rest held back")
        << QStringList{"--json", "-p", "{refusing}", "-p", "{good}", "--canary", "1", "{image}"}
        << QStringList{"start", "done", "summary"};
    QTest::newRow("gateway fleet") << QStringList{"--json", "--mqtt",    "{broker}", "--gateway",
                                                  "GA",     "--gateway", "GB",       "{image}"}
                                   << QStringList{"start", "line", "progress", "done", "summary"};
    QTest::newRow("no recording") << QStringList{"--json", "--no-history", "-p", "{good}", "{image}"}
                                  << QStringList{"done", "summary"};
    QTest::newRow("history") << QStringList{"--history", "--json"} << QStringList{"record"};
}

void tst_Events::runsHoldToTheSchema()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, objects);
    QProcess flash;
    flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")), expand(arguments));
    QVERIFY(flash.waitForFinished(120000));
    const QByteArray output = flash.readAllStandardOutput();
    QString result;
    QVERIFY2(validate(output, &result), qPrintable(result));
    const QStringList seen = result.split(QLatin1Char(' '));
    for (const QString &object : objects)
        QVERIFY2(seen.contains(object),
                 qPrintable(QStringLiteral("no %1 in: %2").arg(object, QString(output))));
}

// Lines written by hand: the station's objects hold, and an event the schema does not know or
// one without a required member is refused.
void tst_Events::schemaRefuses_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("holds");
    const QByteArray uuid = "\"0b7e3a52-4b1c-4f7e-9a55-0d3c2f1e6a10\"";
    QTest::newRow("station slot") << QByteArray(R"({"event":"slot","slot":"ttyUSB0","state":"busy"})")
                                  << true;
    QTest::newRow("station unit")
        << QByteArray(R"({"event":"unit","slot":"serial:A1","device":"12345678","result":"failed",)"
                      R"("kind":"link-lost","reason":"port lost","seconds":3.5,"record":)" +
                      uuid + "}")
        << true;
    QTest::newRow("station summary")
        << QByteArray(R"({"event":"summary","run":)" + uuid +
                      R"(,"passed":3,"failed":1,"skipped":0,"units_per_hour":412.5,"seconds":35})")
        << true;
    QTest::newRow("unknown event") << QByteArray(R"({"event":"finish","target":"x"})") << false;
    QTest::newRow("slot in an unknown state")
        << QByteArray(R"({"event":"slot","slot":"ttyUSB0","state":"sleeping"})") << false;
    QTest::newRow("done without its result")
        << QByteArray(
               R"({"event":"done","target":"x","kind":"","reason":"","seconds":1,"device":null,)"
               R"("sha256":"0000000000000000000000000000000000000000000000000000000000000000","record":null})")
        << false;
    QTest::newRow("summary of neither kind")
        << QByteArray(R"({"event":"summary","passed":1,"failed":0,"skipped":0,"seconds":1,"run":null})")
        << false;
    QTest::newRow("record without its id")
        << QByteArray(R"({"run":)" + uuid + R"(,"result":"success"})") << false;
}

void tst_Events::schemaRefuses()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, holds);
    QString result;
    QCOMPARE(validate(line + '\n', &result), holds);
}

QTEST_GUILESS_MAIN(tst_Events)
#include "tst_events.moc"
