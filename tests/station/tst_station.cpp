// The production station against simulated devices on ptys that come and go: one device after
// another on a slot, each once; a port that appears; an adapter re-plugged under another tty;
// an adapter pulled mid-update; and the flasher's --count.
#include "station/station.h"
#include "tests/support/devsimprocess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

// What a station told, in order.
struct StationLog
{
    QList<StationUnit> units;
    QStringList added;
    QStringList removed;
    QHash<QString, qint64> progressed;

    explicit StationLog(Station &station)
    {
        QObject::connect(&station, &Station::unitFinished,
                         [this](const StationUnit &unit) { units << unit; });
        QObject::connect(&station, &Station::slotAdded, [this](const QString &slot) { added << slot; });
        QObject::connect(&station, &Station::slotRemoved, [this](const QString &slot) { removed << slot; });
        QObject::connect(&station, &Station::progress,
                         [this](const QString &slot, qint64 done, qint64) { progressed[slot] = done; });
    }
    QStringList results() const
    {
        QStringList list;
        for (const StationUnit &unit : units)
            list << unit.device + QLatin1Char(' ') + StationUnit::resultName(unit.result);
        return list;
    }
};

std::unique_ptr<DevsimProcess> device(const QString &link, const QString &address, const QString &target,
                                      const QStringList &more = {})
{
    auto process = std::make_unique<DevsimProcess>();
    if (!process->start(QStringList{"--link", link, "--device-addr", address, "--target", target} + more))
        return nullptr;
    return process;
}

QByteArray image()
{
    QByteArray bytes(4096, '\0');
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 13);
    return bytes;
}

StationOptions optionsFor(const QStringList &ports, const QString &target)
{
    StationOptions options;
    options.ports = ports;
    TargetKindText::parse(target, &options.target);
    options.probeIntervalMs = 200;
    options.goneAfter = 2;
    return options;
}

} // namespace

class tst_Station : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("plovik.*.debug=false")); }
    void slotTakesEachDeviceOnce_data();
    void slotTakesEachDeviceOnce();
    void portThatAppearsBecomesASlot();
    void serialNumberFollowsTheAdapterAcrossAReplug();
    void adapterPulledMidUpdateFailsOnlyItsSlot();
    void portHeldByAnotherProgramIsSaidAndTriedAgain();
    void countersOfUnits_data();
    void countersOfUnits();
    void countEndsTheFlasherWithTwoUnitsOfOneAddress();
    void skipDoneTurnsAwayADeviceOfAnEarlierRun();

private:
    QTemporaryDir dir;
    bool imageWritten = [this] {
        QFile file(dir.filePath(QStringLiteral("image.bin")));
        return file.open(QIODevice::WriteOnly) && file.write(image()) > 0;
    }();
};

// Three devices one after another, the first put back at the end: it is turned away without a
// single bootloader frame. A device left on the fixture answers probe after probe and is not
// updated twice.
void tst_Station::slotTakesEachDeviceOnce_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("module") << "module";
    QTest::newRow("demo board") << "demo";
}

void tst_Station::slotTakesEachDeviceOnce()
{
    QFETCH(QString, target);
    const QString link = dir.filePath(QStringLiteral("seq-") + target);
    const QByteArray bytes = image();
    Station station(optionsFor({link}, target), bytes);
    StationLog log(station);
    station.start();

    const QStringList addresses{"A0000001", "A0000002", "A0000001"};
    for (int i = 0; i < addresses.size(); ++i) {
        auto sim = device(link, addresses.at(i), target, {"--demo-repeat", "100"});
        QVERIFY(sim);
        QTRY_COMPARE_WITH_TIMEOUT(log.units.size(), i + 1, 20000);
        // Left on the fixture: the probes go on (a module answers each one), no update does.
        const QString before = sim->log();
        if (target == QLatin1String("module"))
            QTRY_VERIFY_WITH_TIMEOUT(sim->log().mid(before.size()).count("into boot") >= 3, 20000);
        QCOMPARE(sim->log().count("FIRMWARE LEN"), i < 2 ? 1 : 0);
        // The update starts from the probe's SPLIT LEN: no second boot entry before FIRMWARE LEN.
        const QStringList lines = sim->log().split(QLatin1Char('\n'));
        for (int line = 1; line < lines.size(); ++line) {
            if (lines.at(line).contains(QStringLiteral("FIRMWARE LEN")))
                QVERIFY2(lines.at(line - 1).contains(QStringLiteral("SPLIT LEN")), qPrintable(sim->log()));
        }
        if (i == 2)
            QVERIFY2(!sim->log().contains(QStringLiteral(" frame")), qPrintable(sim->log()));
        sim.reset();
        QTRY_VERIFY_WITH_TIMEOUT(station.slotStatus(link).state == StationSlotStatus::State::Waiting, 20000);
    }
    QCOMPARE(log.results(), (QStringList{"A0000001 success", "A0000002 success", "A0000001 skipped"}));
    QCOMPARE(station.counters().passed(), 2);
    QCOMPARE(station.counters().skipped(), 1);
}

void tst_Station::portThatAppearsBecomesASlot()
{
    const QString link = dir.filePath(QStringLiteral("appearing"));
    qputenv("PLOVIKKIT_EXTRA_PORTS", link.toUtf8());
    const QByteArray bytes = image();
    Station station(optionsFor({}, QStringLiteral("module")), bytes);
    StationLog log(station);
    station.start();
    QVERIFY(station.slotNames().isEmpty());

    auto sim = device(link, QStringLiteral("B0000001"), QStringLiteral("module"));
    QVERIFY(sim);
    QTRY_COMPARE_WITH_TIMEOUT(log.added, QStringList{link}, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(log.results(), QStringList{"B0000001 success"}, 20000);
    sim.reset();
    QTRY_COMPARE_WITH_TIMEOUT(log.removed, QStringList{link}, 20000);
    qunsetenv("PLOVIKKIT_EXTRA_PORTS");
}

void tst_Station::serialNumberFollowsTheAdapterAcrossAReplug()
{
    const QString first = dir.filePath(QStringLiteral("tty-first"));
    const QString second = dir.filePath(QStringLiteral("tty-second"));
    qputenv("PLOVIKKIT_EXTRA_PORTS", QStringLiteral("%1=SN77:%2=SN77").arg(first, second).toUtf8());
    const QByteArray bytes = image();
    Station station(optionsFor({QStringLiteral("serial:SN77")}, QStringLiteral("module")), bytes);
    StationLog log(station);
    station.start();

    auto sim = device(first, QStringLiteral("C0000001"), QStringLiteral("module"));
    QVERIFY(sim);
    QTRY_COMPARE_WITH_TIMEOUT(log.units.size(), 1, 20000);
    sim.reset();
    sim = device(second, QStringLiteral("C0000002"), QStringLiteral("module"));
    QVERIFY(sim);
    QTRY_COMPARE_WITH_TIMEOUT(log.units.size(), 2, 20000);
    QCOMPARE(log.results(), (QStringList{"C0000001 success", "C0000002 success"}));
    QCOMPARE(log.units.at(1).slot, QStringLiteral("serial:SN77"));
    qunsetenv("PLOVIKKIT_EXTRA_PORTS");
}

void tst_Station::adapterPulledMidUpdateFailsOnlyItsSlot()
{
    const QString pulled = dir.filePath(QStringLiteral("pulled"));
    const QString steady = dir.filePath(QStringLiteral("steady"));
    // A paced line keeps the update under way long enough to pull the adapter.
    auto slow = device(pulled, QStringLiteral("D0000001"), QStringLiteral("module"), {"--baud", "2400"});
    auto fast = device(steady, QStringLiteral("D0000002"), QStringLiteral("module"));
    QVERIFY(slow && fast);
    const QByteArray bytes = image();
    Station station(optionsFor({pulled, steady}, QStringLiteral("module")), bytes);
    StationLog log(station);
    station.start();

    QTRY_VERIFY_WITH_TIMEOUT(log.progressed.value(pulled) > 0, 20000);
    slow.reset();
    QTRY_COMPARE_WITH_TIMEOUT(log.units.size(), 2, 20000);
    for (const StationUnit &unit : qAsConst(log.units)) {
        if (unit.slot == pulled) {
            QCOMPARE(unit.result, StationUnit::Result::Failed);
            QCOMPARE(unit.failure.kind, UpdateFailure::Kind::LinkLost);
        } else {
            QCOMPARE(unit.result, StationUnit::Result::Success);
        }
    }
    QVERIFY(station.isRunning());
}

void tst_Station::portHeldByAnotherProgramIsSaidAndTriedAgain()
{
    const QString link = dir.filePath(QStringLiteral("held"));
    auto sim = device(link, QStringLiteral("F0000001"), QStringLiteral("module"));
    QVERIFY(sim);
    // Another program: a flasher waiting for a demo board, which holds the port and sends nothing.
    QProcess holder;
    holder.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                 {"-t", "demo", "-p", link, "--no-history", dir.filePath("image.bin")});
    while (!holder.peek(1 << 16).contains("trying to connect device"))
        QVERIFY(holder.waitForReadyRead(20000));
    const QByteArray bytes = image();
    Station station(optionsFor({link}, QStringLiteral("module")), bytes);
    StationLog log(station);
    station.start();
    QTRY_VERIFY_WITH_TIMEOUT(station.slotStatus(link).reason.contains(QStringLiteral("in use")), 20000);
    QVERIFY(log.units.isEmpty());
    holder.terminate();
    QVERIFY(holder.waitForFinished(20000));
    QTRY_COMPARE_WITH_TIMEOUT(log.results(), QStringList{"F0000001 success"}, 20000);
}

void tst_Station::countersOfUnits_data()
{
    QTest::addColumn<QList<double>>("passedSeconds");
    QTest::addColumn<int>("failed");
    QTest::addColumn<double>("median");
    QTest::addColumn<double>("yield");
    QTest::newRow("odd count") << QList<double>{30, 10, 20} << 1 << 20.0 << 75.0;
    QTest::newRow("even count: between the middle two")
        << QList<double>{40, 10, 30, 20} << 0 << 25.0 << 100.0;
    // The oldest times leave the window, so a day of units weighs no more than its last thousand.
    QList<double> many;
    for (int i = 0; i < StationCounters::kMedianWindow; ++i)
        many << 1000.0;
    for (int i = 0; i < StationCounters::kMedianWindow; ++i)
        many << 2.0;
    QTest::newRow("only the latest units") << many << 0 << 2.0 << 100.0;
}

// Failed units count with a time of 0 s here, as a unit that ends at once would.
void tst_Station::countersOfUnits()
{
    QFETCH(QList<double>, passedSeconds);
    QFETCH(int, failed);
    QFETCH(double, median);
    QFETCH(double, yield);
    StationCounters counters;
    counters.start();
    StationUnit unit;
    unit.result = StationUnit::Result::Skipped;
    counters.add(unit);
    unit.result = StationUnit::Result::Success;
    for (double seconds : passedSeconds) {
        unit.seconds = seconds;
        counters.add(unit);
    }
    unit.result = StationUnit::Result::Failed;
    unit.failure = {UpdateFailure::Kind::LinkLost, QStringLiteral("port lost")};
    unit.seconds = median;
    for (int i = 0; i < failed; ++i)
        counters.add(unit);
    QCOMPARE(counters.medianUnitSeconds(), median);
    QCOMPARE(counters.yieldPercent(), yield);
    QCOMPARE(counters.skipped(), 1);
    QCOMPARE(counters.failuresByKind().value(QStringLiteral("link-lost")), failed);
}

// Two slots with devices of one address: both are updated and both say so; --count 2 then ends
// the station by itself with the summary last.
void tst_Station::countEndsTheFlasherWithTwoUnitsOfOneAddress()
{
    const QString first = dir.filePath(QStringLiteral("count-1"));
    const QString second = dir.filePath(QStringLiteral("count-2"));
    auto a = device(first, QStringLiteral("E0000001"), QStringLiteral("module"), {"--baud", "57600"});
    auto b = device(second, QStringLiteral("E0000001"), QStringLiteral("module"), {"--baud", "57600"});
    QVERIFY(a && b);
    const QString imagePath = dir.filePath(QStringLiteral("image.bin"));
    QVERIFY(imageWritten);

    QProcess flash;
    flash.start(
        DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
        {"--station", "--count", "2", "-p", first, "-p", second, "--json", "--no-history", imagePath});
    QVERIFY(flash.waitForFinished(60000));
    QCOMPARE(flash.exitCode(), 0);
    QList<QJsonObject> units;
    QJsonObject last;
    for (const QByteArray &line : flash.readAllStandardOutput().trimmed().split('\n')) {
        last = QJsonDocument::fromJson(line).object();
        if (last.value("event") == QLatin1String("unit"))
            units << last;
    }
    QCOMPARE(units.size(), 2);
    for (const QJsonObject &unit : units) {
        QCOMPARE(unit.value("result").toString(), QStringLiteral("success"));
        QCOMPARE(unit.value("seen_twice").toBool(), true);
    }
    QCOMPARE(last.value("event").toString(), QStringLiteral("summary"));
    QCOMPARE(last.value("passed").toInt(), 2);
}

// The first run records its unit; the next, with --skip-done, sends the device nothing but the
// probe and records it as skipped.
void tst_Station::skipDoneTurnsAwayADeviceOfAnEarlierRun()
{
    const QString link = dir.filePath(QStringLiteral("skip"));
    auto sim = device(link, QStringLiteral("0000F00D"), QStringLiteral("module"));
    QVERIFY(sim);
    const QStringList arguments{"--station", "-p", link, "--json", dir.filePath(QStringLiteral("image.bin"))};
    QProcess first;
    first.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                arguments + QStringList{"--count", "1"});
    QVERIFY(first.waitForFinished(60000));
    QCOMPARE(first.exitCode(), 0);
    QVERIFY(first.readAllStandardOutput().contains("\"result\":\"success\""));

    QProcess second;
    second.start(DevsimProcess::binary(QStringLiteral("plovikkit-flash")),
                 arguments + QStringList{"--skip-done"});
    QJsonObject unit;
    while (unit.isEmpty() && second.waitForReadyRead(20000)) {
        while (second.canReadLine()) {
            const QJsonObject event = QJsonDocument::fromJson(second.readLine()).object();
            if (event.value("event") == QLatin1String("unit"))
                unit = event;
        }
    }
    second.terminate();
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(unit.value("result").toString(), QStringLiteral("skipped"));
    QCOMPARE(unit.value("device").toString(), QStringLiteral("0000F00D"));
    QVERIFY(!unit.value("record").toString().isEmpty());
    QTRY_VERIFY(sim->log().contains(QStringLiteral("FIRMWARE LEN")));
    QCOMPARE(sim->log().count("FIRMWARE LEN"), 1);
}

QTEST_GUILESS_MAIN(tst_Station)
#include "tst_station.moc"
