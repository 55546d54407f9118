#include "app/historypage.h"
#include "app/windowhistory.h"
#include "history/historystore.h"
#include "ui_historypage.h"

#include <QFile>
#include <QSignalSpy>
#include <QSqlQueryModel>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

namespace {

UpdateRecord record(const QString &id, const QString &target, const QString &device, const QString &result,
                    const QString &started, const QString &reason = {})
{
    UpdateRecord r;
    r.id = id;
    r.run = QStringLiteral("run-1");
    r.started = QDateTime::fromString(started, Qt::ISODateWithMs);
    r.ended = r.started.addSecs(30);
    r.target = target;
    r.device = device;
    r.result = result;
    r.reason = reason;
    r.imageSha256 = QStringLiteral("ab").repeated(32);
    return r;
}

// RFC 4180, as a spreadsheet reads it: quoted fields may hold commas, doubled quotes, line ends.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows{{}};
    QString field;
    bool quoted = false;
    const auto next = [&text](int i) { return i + 1 < text.size() ? text.at(i + 1) : QChar(); };
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted && c == '"' && next(i) == '"')
            field += text.at(++i);
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ',')
            rows.last() << std::exchange(field, QString());
        else if (!quoted && c == '\r' && next(i) == '\n') {
            rows.last() << std::exchange(field, QString());
            rows << QStringList();
            ++i;
        } else
            field += c;
    }
    if (rows.last().isEmpty() && field.isEmpty())
        rows.removeLast();
    return rows;
}

QStringList shownIds(const QSqlQueryModel *model)
{
    QStringList ids;
    for (int row = 0; row < model->rowCount(); ++row)
        ids << model->record(row).value(QStringLiteral("id")).toString();
    return ids;
}

} // namespace

class tst_HistoryPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    // A filter's clear button fades in for 160 ms, and Qt frees the fading only when it has ended.
    void cleanup() { QTest::qWait(250); }
    void filtersChooseRows_data();
    void filtersChooseRows();
    void exportWritesWhatIsShown();
    void newRecordsAppearWhileShown();

private:
    QTemporaryDir dir;
};

// Targets and reasons with the characters that break a careless CSV writer.
void tst_HistoryPage::initTestCase()
{
    HistoryStore store;
    QString problem;
    QVERIFY2(store.open(HistoryLocation::fromEnvironment(), &problem), qPrintable(problem));
    for (const UpdateRecord &r : {record("a", "ttyUSB0", "00C0FFEE", "success", "2026-12-01T12:00:00.000Z"),
                                  record("b", "gw, \"north\"\n2", "", "failed", "2026-12-05T12:00:00.000Z",
                                         QStringLiteral("link lost, \"again\"\nsecond line — 断开")),
                                  record("c", "ttyUSB0", "0BADF00D", "stopped", "2026-12-08T12:00:00.000Z")})
        QVERIFY(store.complete(r));
}

void tst_HistoryPage::filtersChooseRows_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QDate>("since");
    QTest::addColumn<QDate>("until");
    QTest::addColumn<QStringList>("ids");
    QTest::newRow("none, newest first") << ""
                                        << ""
                                        << "" << QDate() << QDate() << QStringList{"c", "b", "a"};
    QTest::newRow("target") << "ttyUSB0"
                            << ""
                            << "" << QDate() << QDate() << QStringList{"c", "a"};
    QTest::newRow("device as typed") << ""
                                     << "00c0ffee"
                                     << "" << QDate() << QDate() << QStringList{"a"};
    QTest::newRow("result") << ""
                            << ""
                            << "failed" << QDate() << QDate() << QStringList{"b"};
    QTest::newRow("days") << ""
                          << ""
                          << "" << QDate(2026, 12, 4) << QDate(2026, 12, 6) << QStringList{"b"};
    QTest::newRow("last day whole") << ""
                                    << ""
                                    << "" << QDate(2026, 12, 6) << QDate(2026, 12, 8) << QStringList{"c"};
    QTest::newRow("nothing") << "ttyUSB0"
                             << ""
                             << "failed" << QDate() << QDate() << QStringList{};
}

void tst_HistoryPage::filtersChooseRows()
{
    QFETCH(QString, target);
    QFETCH(QString, device);
    QFETCH(QString, result);
    QFETCH(QDate, since);
    QFETCH(QDate, until);
    QFETCH(QStringList, ids);
    WindowHistory history(nullptr);
    HistoryPage page(history);
    page.show();
    Ui::HistoryPage *ui = page.form();
    ui->lineEdit_history_target->setText(target);
    ui->lineEdit_history_device->setText(device);
    ui->comboBox_history_result->setCurrentIndex(ui->comboBox_history_result->findData(result));
    if (since.isValid()) {
        ui->dateEdit_history_since->setDate(since);
        ui->dateEdit_history_until->setDate(until);
        ui->checkBox_history_dates->setChecked(true);
    }
    QCOMPARE(shownIds(page.model()), ids);
}

void tst_HistoryPage::exportWritesWhatIsShown()
{
    WindowHistory history(nullptr);
    HistoryPage page(history);
    page.show();
    page.form()->comboBox_history_result->setCurrentIndex(
        page.form()->comboBox_history_result->findData(QStringLiteral("failed")));
    const QString path = dir.filePath(QStringLiteral("history.csv"));
    QString problem;
    QVERIFY2(page.exportCsv(path, &problem), qPrintable(problem));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QStringList> rows = parseCsv(QString::fromUtf8(file.readAll()));
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.first(), UpdateRecord::fieldNames());
    const QStringList &shown = rows.at(1);
    QCOMPARE(shown.size(), UpdateRecord::fieldNames().size());
    const auto column = [&](const char *name) { return shown.at(UpdateRecord::fieldNames().indexOf(name)); };
    QCOMPARE(column("id"), QStringLiteral("b"));
    QCOMPARE(column("target"), QStringLiteral("gw, \"north\"\n2"));
    QCOMPARE(column("reason"), QStringLiteral("link lost, \"again\"\nsecond line — 断开"));
    QCOMPARE(column("started"), QStringLiteral("2026-12-05T12:00:00.000Z"));

    // A folder cannot be written over: the export says so and leaves nothing half written.
    QVERIFY(!page.exportCsv(dir.path(), &problem));
    QVERIFY(!problem.isEmpty());
}

void tst_HistoryPage::newRecordsAppearWhileShown()
{
    WindowHistory history(nullptr);
    HistoryPage page(history);
    page.show();
    const int before = page.model()->rowCount();
    QSignalSpy written(&history, &WindowHistory::recordsWritten);
    UpdateRecord fresh = history.newRecord(QStringLiteral("run-2"), QString());
    fresh.target = QStringLiteral("ttyACM0");
    history.begin(fresh);
    QVERIFY(written.wait());
    QCOMPARE(page.model()->rowCount(), before + 1);
    QCOMPARE(shownIds(page.model()).first(), fresh.id);
}

QTEST_MAIN(tst_HistoryPage)
#include "tst_historypage.moc"
