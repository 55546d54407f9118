#include "tests/support/brokerprocess.h"
#include "tests/support/devsimprocess.h"

#include <QtTest>

// The kinds of object seen ("record": an update record), or the first line that broke the schema.
static bool validate(const QByteArray &lines, QString *result)
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

// Every object the flasher writes with --json holds to docs/events.schema.json: real runs of each
// mode, and lines written by hand for what no run here writes.
class tst_Events : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    BrokerProcess broker;
    DevsimProcess gateways;

private slots:
    void initTestCase()
    {
        QFile image(dir.filePath(QStringLiteral("image.bin")));
        QVERIFY(image.open(QIODevice::WriteOnly) && image.write(QByteArray(3000, 'Z')) == 3000);
        QVERIFY(broker.start());
        QVERIFY(
            gateways.start({"--mqtt", broker.address(), "--gateway", "GA", "--gateway", "GB", "{image}"}, 2));
    }

    // One row a mode, with the objects its run must have written at least; {good} and {refusing}
    // are devices fresh from their bootloader for each row.
    void runsHold_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("objects");
        const QString all = QStringLiteral("start line progress done summary");
        QTest::newRow("serial fleet, one refused, one missing")
            << QStringList{"-p", "{good}", "-p", "{refusing}", "-p", "/nonexistent/tty", "{image}"} << all;
        QTest::newRow("canary refused, the rest held back, no recording")
            << QStringList{"-p", "{refusing}", "-p", "{good}", "--canary", "1", "--no-history", "{image}"}
            << "done summary";
        QTest::newRow("gateway fleet")
            << QStringList{"--mqtt", "{broker}", "--gateway", "GA", "--gateway", "GB", "{image}"} << all;
        QTest::newRow("station") << QStringList{"--station",  "-p",      "{good}", "-p",
                                                "{refusing}", "--count", "1",      "{image}"}
                                 << "slot unit line summary";
        QTest::newRow("history") << QStringList{"--history"} << "record";
    }

    void runsHold()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, objects);
        DevsimProcess good, refusing;
        QVERIFY(good.start({}) && refusing.start({"--fail-frame", "1", "--restart-delay", "-1"}));
        arguments.replaceInStrings("{good}", good.portPath())
            .replaceInStrings("{refusing}", refusing.portPath());
        arguments.replaceInStrings("{broker}", broker.address());
        arguments.replaceInStrings("{image}", dir.filePath(QStringLiteral("image.bin")));
        QProcess flash;
        flash.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                    QStringList{"--json"} + arguments);
        QVERIFY(flash.waitForFinished(120000));
        QString seen;
        QVERIFY2(validate(flash.readAllStandardOutput(), &seen), qPrintable(seen));
        for (const QString &object : objects.split(' '))
            QVERIFY2(seen.split(' ').contains(object), qPrintable(object + " not written; seen: " + seen));
    }

    // What must not hold.
    void handWrittenLines_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<bool>("hold");
        QTest::newRow("unknown event") << QByteArray(R"({"event":"finish","target":"x"})") << false;
        QTest::newRow("summary of neither kind")
            << QByteArray(R"({"event":"summary","failed":0,"skipped":0,"seconds":1,"run":null})") << false;
    }

    void handWrittenLines()
    {
        QFETCH(QByteArray, lines);
        QFETCH(bool, hold);
        QString result;
        QCOMPARE(validate(lines.trimmed() + '\n', &result), hold);
    }
};

QTEST_GUILESS_MAIN(tst_Events)
#include "tst_events.moc"
