// The flasher's update record through whole runs against simulated devices: rollouts that skip
// what is done and retry what failed, retries of link failures, and records of a killed flasher.
#include "tests/support/brokerprocess.h"
#include "tests/support/devsimprocess.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct FlashRun
{
    int exitCode = -1;
    QList<QJsonObject> events;
    QString errors;

    QList<QJsonObject> of(const QString &event) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject &object : events) {
            if (object.value("event").toString() == event)
                found << object;
        }
        return found;
    }
    QString run() const { return of("summary").value(0).value("run").toString(); }
};

QList<QJsonObject> jsonLines(const QByteArray &text)
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : text.split('\n')) {
        if (!line.isEmpty())
            objects << QJsonDocument::fromJson(line).object();
    }
    return objects;
}

} // namespace

class tst_FlashHistory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void skipDoneSkipsWhatHasTheImage_data();
    void skipDoneSkipsWhatHasTheImage();
    void retryFailedRunsExactlyTheFailed();
    void retriesOnlyLinkFailures_data();
    void retriesOnlyLinkFailures();
    void killedFlasherLeavesInterruptedRecords();

private:
    QString writeImage(char fill);
    FlashRun flash(const QStringList &arguments);
    QList<QJsonObject> history(const QStringList &filters);

    QTemporaryDir dir;
    BrokerProcess broker;
    int count = 0;
};

void tst_FlashHistory::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(broker.start());
}

// Each test reads only its own records.
void tst_FlashHistory::init()
{
    qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data%1").arg(++count)).toUtf8());
}

QString tst_FlashHistory::writeImage(char fill)
{
    const QString path = dir.filePath(QStringLiteral("image-%1.bin").arg(fill));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QByteArray(1000, fill));
    return path;
}

FlashRun tst_FlashHistory::flash(const QStringList &arguments)
{
    QProcess process;
    process.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")), arguments);
    FlashRun run;
    if (!process.waitForFinished(120000))
        return run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.events = jsonLines(process.readAllStandardOutput());
    run.errors = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QList<QJsonObject> tst_FlashHistory::history(const QStringList &filters)
{
    QProcess process;
    process.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                  QStringList{"--history", "--json"} + filters);
    process.waitForFinished();
    return jsonLines(process.readAllStandardOutput());
}

void tst_FlashHistory::skipDoneSkipsWhatHasTheImage_data()
{
    QTest::addColumn<bool>("gateway");
    QTest::newRow("serial, after SPLIT LEN") << false;
    QTest::newRow("gateway, before anything") << true;
}

void tst_FlashHistory::skipDoneSkipsWhatHasTheImage()
{
    QFETCH(bool, gateway);
    const QString received = dir.filePath(QStringLiteral("received-%1.bin").arg(count));
    const QStringList viaBroker{"--mqtt", broker.address(), "--gateway", "SKIP1"};
    DevsimProcess device;
    QVERIFY(device.start((gateway ? viaBroker : QStringList()) + QStringList{"--output", received}));
    const QStringList target = gateway ? viaBroker : QStringList{"-p", device.portPath()};
    const QString image = writeImage('a');

    const FlashRun first = flash(target + QStringList{"--json", "--station-name", "bench 7", image});
    QCOMPARE(first.exitCode, 0);
    const QJsonObject done = first.of("done").value(0);
    QCOMPARE(done.value("device").toString(), QStringLiteral("12345678"));
    QCOMPARE(done.value("sha256").toString(),
             QString(QCryptographicHash::hash(QByteArray(1000, 'a'), QCryptographicHash::Sha256).toHex()));
    const QList<QJsonObject> latest = history({"--limit", "1"});
    QCOMPARE(latest.value(0).value("id").toString(), done.value("record").toString());
    QCOMPARE(latest.value(0).value("run").toString(), first.run());
    QVERIFY(QFile::remove(received));

    const FlashRun second = flash(target + QStringList{"--json", "--skip-done", image});
    QCOMPARE(second.exitCode, 0);
    const QJsonObject skipped = second.of("done").value(0);
    QCOMPARE(skipped.value("result").toString(), QStringLiteral("skipped"));
    QCOMPARE(skipped.value("kind").toString(), QStringLiteral("already-done"));
    QVERIFY2(skipped.value("reason").toString().contains("bench 7"),
             qPrintable(skipped.value("reason").toString()));
    QVERIFY(!QFile::exists(received));
    QCOMPARE(history({"--run", second.run()}).value(0).value("result").toString(), QStringLiteral("skipped"));

    // Another image is no image the device has.
    const FlashRun other = flash(target + QStringList{"--json", "--skip-done", writeImage('b')});
    QCOMPARE(other.of("done").value(0).value("result").toString(), QStringLiteral("success"));
}

void tst_FlashHistory::retryFailedRunsExactlyTheFailed()
{
    DevsimProcess good;
    DevsimProcess refusing;
    QVERIFY(good.start({}));
    QVERIFY(refusing.start({"--over-reply", "06"}));
    const QString image = writeImage('c');
    const FlashRun first = flash({"-p", good.portPath(), "-p", refusing.portPath(), "--json", image});
    QCOMPARE(first.exitCode, 1);
    QCOMPARE(history({}).size(), 2);

    const FlashRun otherImage = flash({"--retry-failed", first.run(), "--json", writeImage('d')});
    QCOMPARE(otherImage.exitCode, 2);
    QVERIFY(otherImage.events.isEmpty());
    QCOMPARE(history({}).size(), 2);

    const FlashRun again = flash({"--retry-failed", first.run(), "--json", image});
    const QList<QJsonObject> done = again.of("done");
    QCOMPARE(done.size(), 1);
    QCOMPARE(done.value(0).value("target").toString(), refusing.portPath());
    QCOMPARE(history({"--run", again.run()}).size(), 1);
}

void tst_FlashHistory::retriesOnlyLinkFailures_data()
{
    QTest::addColumn<QStringList>("deviceArgs"); // empty: no device, a port that is not there
    QTest::addColumn<int>("records");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("port missing: tried again") << QStringList() << 2 << "link-lost" << 3;
    QTest::newRow("refused: never again") << QStringList{"--over-reply", "06"} << 1 << "refused" << 1;
}

void tst_FlashHistory::retriesOnlyLinkFailures()
{
    QFETCH(QStringList, deviceArgs);
    DevsimProcess device;
    QString port = dir.filePath(QStringLiteral("no-such-tty"));
    if (!deviceArgs.isEmpty()) {
        QVERIFY(device.start(deviceArgs));
        port = device.portPath();
    }
    const FlashRun run = flash({"-p", port, "--retries", "1", "--json", writeImage('e')});
    QTEST(run.exitCode, "exitCode");
    const QList<QJsonObject> records = history({"--run", run.run()});
    QTEST(int(records.size()), "records");
    for (const QJsonObject &record : records) {
        QCOMPARE(record.value("result").toString(), QStringLiteral("failed"));
        QTEST(record.value("kind").toString(), "kind");
    }
}

void tst_FlashHistory::killedFlasherLeavesInterruptedRecords()
{
    DevsimProcess slow[2];
    for (int i = 0; i < 2; ++i)
        QVERIFY(slow[i].start(
            {"--mqtt", broker.address(), "--gateway", QStringLiteral("K%1").arg(i), "--reply-delay", "400"}));
    QProcess flasher;
    flasher.start(
        DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
        {"--mqtt", broker.address(), "--gateway", "K0", "--gateway", "K1", "--json", writeImage('f')});
    QTRY_COMPARE_WITH_TIMEOUT(history({"--result", "running"}).size(), 2, 60000);
    flasher.kill();
    QVERIFY(flasher.waitForFinished());

    const QList<QJsonObject> records = history({});
    QCOMPARE(records.size(), 2);
    for (const QJsonObject &record : records)
        QCOMPARE(record.value("result").toString(), QStringLiteral("interrupted"));
}

QTEST_GUILESS_MAIN(tst_FlashHistory)
#include "tst_flashhistory.moc"
