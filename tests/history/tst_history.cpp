#include "history/historyexport.h"
#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "tests/support/childprocess.h"
#include "tests/support/postgresprocess.h"

#include <QJsonDocument>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>

namespace {

UpdateRecord ended(const QString &run, const QString &device, const QString &result)
{
    UpdateRecord record = HistoryRecorder::newRecord(run);
    record.device = device;
    record.imageSha256 = QStringLiteral("ab").repeated(32);
    record.targetKind = QStringLiteral("module");
    record.result = result;
    record.ended = record.started.addMSecs(1500);
    return record;
}

// RFC 4180 read back: quoted fields may hold commas, doubled quotes and line ends.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows{{}};
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"')
            field += text[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            rows.last() << std::exchange(field, {});
        else if (!quoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.last() << std::exchange(field, {});
            rows << QStringList();
            ++i;
        } else
            field += c;
    }
    rows.removeLast();
    return rows;
}

int countOnServer(const QString &url, const QString &result)
{
    HistoryStore server;
    QString problem;
    if (!server.open(HistoryLocation::fromEnvironment(url), &problem))
        return -1;
    HistoryQuery query;
    query.result = result;
    return server.find(query).size();
}

// A child process of this test: "write PATH N" records N updates through a recorder;
// "hang PATH" leaves one running record and waits to be killed.
int childMain(const QStringList &arguments)
{
    HistoryLocation location;
    location.localPath = arguments.value(3);
    if (arguments.value(2) == QLatin1String("write")) {
        HistoryRecorder recorder(location);
        QObject::connect(&recorder, &HistoryRecorder::problem,
                         [](const QString &text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
        for (int i = 0; i < arguments.value(4).toInt(); ++i) {
            UpdateRecord record = recorder.newRecord();
            recorder.begin(record);
            record.result = QStringLiteral("success");
            recorder.complete(record);
        }
        return recorder.finish(60000) ? 0 : 1;
    }
    HistoryStore store;
    QString problem;
    if (!store.open(location, &problem) || !store.begin(HistoryRecorder::newRecord(QStringLiteral("hang"))))
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    return std::getchar();
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void exportsKeepAwkwardText_data();
    void exportsKeepAwkwardText();
    void processesWritingAtOnceLoseNothing();
    void deadProcessesRecordsAreInterrupted();
    void latestForPassesOverOthers();
    void badStoreIsSaidOnce_data();
    void badStoreIsSaidOnce();
    void outboxReachesServerOnceAfterOutage();

private:
    QTemporaryDir dir;
};

void TestHistory::exportsKeepAwkwardText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("comma") << "port,1";
    QTest::newRow("quotes") << "the \"boot\" answer";
    QTest::newRow("line ends") << "first\nsecond\r\nthird";
    QTest::newRow("non-ASCII") << QStringLiteral("网关 — ümlaut");
    QTest::newRow("all at once") << QStringLiteral("a,\"b\"\n网");
}

void TestHistory::exportsKeepAwkwardText()
{
    QFETCH(QString, text);
    UpdateRecord record = ended("run", "0000ABCD", "failed");
    record.target = text;
    record.reason = text;
    const QList<QStringList> rows = parseCsv(QString::fromUtf8(HistoryExport::csv({record, record})));
    QCOMPARE(rows.size(), 3);
    const QStringList header = rows[0];
    for (const QStringList &row : rows.mid(1)) {
        QCOMPARE(row.size(), header.size());
        QCOMPARE(row[header.indexOf("target")], text);
        QCOMPARE(row[header.indexOf("reason")], text);
        QCOMPARE(row[header.indexOf("split_len")], QString());
    }
    const QList<QByteArray> lines = HistoryExport::jsonLines({record, record}).split('\n');
    QCOMPARE(lines.size(), 3); // the last line end leaves an empty tail
    const QJsonObject object = QJsonDocument::fromJson(lines[0]).object();
    QCOMPARE(UpdateRecord::fromJson(object).reason, text);
    QVERIFY(object["split_len"].isNull());
}

void TestHistory::processesWritingAtOnceLoseNothing()
{
    const QString path = dir.filePath("shared.sqlite");
    const int perProcess = 300;
    QList<QProcess *> children;
    for (int i = 0; i < 3; ++i) {
        auto *child = new QProcess(this);
        child->start(QCoreApplication::applicationFilePath(),
                     {"--child", "write", path, QString::number(perProcess)});
        children << child;
    }
    for (QProcess *child : children) {
        QVERIFY(child->waitForFinished(120000));
        QVERIFY2(child->exitCode() == 0, child->readAllStandardError().constData());
    }
    HistoryStore store;
    QString problem;
    QVERIFY2(store.openLocal(path, &problem), qPrintable(problem));
    HistoryQuery successes;
    successes.result = "success";
    QCOMPARE(store.find(successes).size(), 3 * perProcess);
    QCOMPARE(store.find({}).size(), 3 * perProcess);
    QCOMPARE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}

void TestHistory::deadProcessesRecordsAreInterrupted()
{
    HistoryLocation location;
    location.localPath = dir.filePath("interrupted.sqlite");
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--child", "hang", location.localPath});
    QVERIFY(child.waitForReadyRead(30000));
    HistoryQuery running;
    running.result = "running";
    HistoryStore whileAlive;
    QString problem;
    QVERIFY2(whileAlive.open(location, &problem), qPrintable(problem));
    QCOMPARE(whileAlive.find(running).size(), 1);
    whileAlive.close();

    child.kill();
    QVERIFY(child.waitForFinished(30000));
    HistoryStore afterDeath;
    QVERIFY2(afterDeath.open(location, &problem), qPrintable(problem));
    QCOMPARE(afterDeath.find(running).size(), 0);
    HistoryQuery interrupted;
    interrupted.result = "interrupted";
    QCOMPARE(afterDeath.find(interrupted).size(), 1);
}

void TestHistory::latestForPassesOverOthers()
{
    HistoryLocation location;
    location.localPath = dir.filePath("latest.sqlite");
    HistoryStore store;
    QString problem;
    QVERIFY2(store.open(location, &problem), qPrintable(problem));
    UpdateRecord success = ended("r1", "0000ABCD", "success");
    UpdateRecord otherImage = ended("r2", "0000ABCD", "failed");
    otherImage.started = success.started.addSecs(10);
    otherImage.imageSha256 = QStringLiteral("cd").repeated(32);
    UpdateRecord running = ended("r3", "0000ABCD", "running");
    running.started = success.started.addSecs(20);
    QVERIFY(store.write({success, otherImage, running}));

    QCOMPARE(store.latestFor("0000abcd", false)->id, otherImage.id);
    QCOMPARE(store.latestFor("0000ABCD", false, success.imageSha256, "module")->id, success.id);
    QVERIFY(!store.latestFor("0000ABCD", false, success.imageSha256, "gateway"));
    QVERIFY(!store.latestFor("0000ABCD", true));
    // Sent twice, a record stays one row; an ended record never turns back into a running one.
    UpdateRecord late = success;
    late.result = "running";
    QVERIFY(store.write({success, late}));
    QCOMPARE(store.runRecords("r1").size(), 1);
    QCOMPARE(store.runRecords("r1").first().result, QString("success"));
}

void TestHistory::badStoreIsSaidOnce_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("corrupt") << "corrupt";
    QTest::newRow("symbolic link") << "symlink";
    QTest::newRow("read-only folder") << "read-only";
}

void TestHistory::badStoreIsSaidOnce()
{
    QFETCH(QString, kind);
    HistoryLocation location;
    location.localPath = dir.filePath(kind + ".sqlite");
    if (kind == "corrupt") {
        QFile file(location.localPath);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 4096; ++i)
            file.putChar(char(QRandomGenerator::global()->generate()));
    } else if (kind == "symlink") {
        QVERIFY(QFile::link(dir.filePath("elsewhere.sqlite"), location.localPath));
    } else {
        // Not even root may make a file here.
        location.localPath = QStringLiteral("/proc/plovik-history/history.sqlite");
    }
    HistoryStore store;
    QString problem;
    QVERIFY(!store.open(location, &problem));
    QVERIFY2(problem.contains(location.localPath), qPrintable(problem));

    HistoryRecorder recorder(location);
    QSignalSpy problems(&recorder, &HistoryRecorder::problem);
    for (int i = 0; i < 5; ++i) {
        const UpdateRecord record = recorder.newRecord();
        recorder.begin(record);
        recorder.complete(record);
    }
    QVERIFY(recorder.finish(30000));
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems[0][0].toString().contains(location.localPath), qPrintable(problems[0][0].toString()));
    QVERIFY(!QFileInfo::exists(dir.filePath("elsewhere.sqlite")));
}

void TestHistory::outboxReachesServerOnceAfterOutage()
{
    PostgresProcess server;
    QVERIFY2(server.start(), qPrintable(server.output()));
    HistoryLocation location = HistoryLocation::fromEnvironment(server.url());
    location.localPath = dir.filePath("outbox.sqlite");
    QVERIFY(server.stop());
    {
        HistoryRecorder recorder(location);
        QSignalSpy problems(&recorder, &HistoryRecorder::problem);
        for (int i = 0; i < 20; ++i) {
            UpdateRecord record =
                ended(recorder.runId(), QStringLiteral("%1").arg(i, 8, 10, QChar('0')), "running");
            recorder.begin(record);
            record.result = "success";
            recorder.complete(record);
        }
        QVERIFY(recorder.finish(30000));
        QCOMPARE(problems.size(), 1);
    }
    QVERIFY2(server.restart(), qPrintable(server.output()));
    {
        HistoryRecorder nextRun(location);
        QSignalSpy delivered(&nextRun, &HistoryRecorder::delivered);
        QTRY_VERIFY_WITH_TIMEOUT(!delivered.isEmpty(), 60000);

        // Stopped in the middle of a run, and started again: the retry while running sends it.
        QVERIFY(server.stop());
        const UpdateRecord during = ended(nextRun.runId(), "00000099", "failed");
        nextRun.complete(during);
        QSignalSpy stored(&nextRun, &HistoryRecorder::stored);
        QTRY_VERIFY_WITH_TIMEOUT(!stored.isEmpty(), 60000);
        delivered.clear();
        QVERIFY2(server.restart(), qPrintable(server.output()));
        QTRY_VERIFY_WITH_TIMEOUT(!delivered.isEmpty(), 120000);
        QVERIFY(nextRun.finish(30000));
    }
    HistoryRecorder third(location); // nothing waits any more, and nothing goes twice
    QVERIFY(third.finish(30000));
    QCOMPARE(countOnServer(server.url(), "success"), 20);
    QCOMPARE(countOnServer(server.url(), "failed"), 1);
    QCOMPARE(countOnServer(server.url(), QString()), 21);

    HistoryStore direct; // the window's own connection writes the server the same way
    QString problem;
    QVERIFY2(direct.open(location, &problem), qPrintable(problem));
    const UpdateRecord record = ended("direct", "0000BEEF", "success");
    QVERIFY2(direct.begin(record) && direct.complete(record), qPrintable(direct.lastError()));
    QCOMPARE(direct.runRecords("direct").size(), 1);
    QCOMPARE(direct.summary({}).images.first().devicesUpdated, 21); // the failed one is not
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--child") == 0)
        return childMain(app.arguments());
    TestHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
