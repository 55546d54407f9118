#include "app/stationpage.h"
#include "app/stationtile.h"
#include "app/windowhistory.h"
#include "history/historystore.h"
#include "station/stationcounters.h"
#include "storage/imagesource.h"
#include "tests/support/devsimprocess.h"
#include "ui_stationpage.h"

#include <QTemporaryDir>
#include <QtTest>
#include <memory>

namespace {

// A whole number of the simulated device's 1024-byte splits, so what it writes out is exactly
// what was sent.
QByteArray image(char fill)
{
    QByteArray bytes(4096, fill);
    for (int i = 0; i < bytes.size(); i += 7)
        bytes[i] = char(i);
    return bytes;
}

QListWidgetItem *portItem(QListWidget *list, const QString &port)
{
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->data(Qt::UserRole).toString() == port)
            return list->item(row);
    }
    return nullptr;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_StationPage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void twoSlotsUnderTheOperatorLock();

private:
    QTemporaryDir folder;
    DevsimProcess first;
    DevsimProcess second;
};

void tst_StationPage::initTestCase()
{
    QVERIFY(folder.isValid());
    QVERIFY(first.start({"--device-addr", "A1000001", "--output", folder.filePath("first.bin")}));
    QVERIFY(second.start({"--device-addr", "A1000002", "--output", folder.filePath("second.bin")}));
    // The first adapter is named by its serial number, as an operator would tick it.
    qputenv("PLOVIKKIT_EXTRA_PORTS", (first.portPath() + "=BENCH01:" + second.portPath()).toLocal8Bit());
}

// Each settings control is tried the way a stray hand would (a click, a key); while the station
// runs none may change, and the image chosen elsewhere meanwhile must not be what goes out.
void tst_StationPage::twoSlotsUnderTheOperatorLock()
{
    ImageSource source;
    const QByteArray sent = image('\x5a');
    source.setBytes(sent);
    WindowHistory history(nullptr);
    QStringList console;
    StationPage::Context context;
    context.image = &source;
    context.imageBytes = [&source](QString *) { return source.bytes(); };
    context.console = [&console](const QString &text) { console << text; };
    context.history = &history;
    context.newRecord = [&history](const QString &run) { return history.newRecord(run, QString()); };
    StationPage page(context);
    page.show();
    QVERIFY(QTest::qWaitForWindowExposed(&page));
    Ui::StationPage *form = page.form();
    QListWidget *ports = form->listWidget_station_ports;
    QListWidgetItem *bySerial = portItem(ports, "serial:BENCH01");
    QListWidgetItem *byPath = portItem(ports, second.portPath());
    QVERIFY(bySerial && byPath);
    bySerial->setCheckState(Qt::Checked);
    byPath->setCheckState(Qt::Checked);

    QTest::mouseClick(form->pushButton_station_start, Qt::LeftButton);
    QVERIFY(page.isRunning());
    const QString shownSha = form->label_station_imageSha256->text();
    source.setBytes(image('\x33'));

    ports->setCurrentItem(byPath);
    QTest::keyClick(ports, Qt::Key_Space);
    QTest::mouseClick(form->checkBox_station_everyPort, Qt::LeftButton);
    const int target = form->comboBox_station_target->currentIndex();
    QTest::keyClick(form->comboBox_station_target, Qt::Key_Down);
    const QString baud = form->comboBox_station_baud->currentText();
    QTest::keyClick(form->comboBox_station_baud, Qt::Key_Down);
    QCOMPARE(byPath->checkState(), Qt::Checked);
    QVERIFY(!form->checkBox_station_everyPort->isChecked());
    QCOMPARE(form->comboBox_station_target->currentIndex(), target);
    QCOMPARE(form->comboBox_station_baud->currentText(), baud);
    QCOMPARE(form->label_station_imageSha256->text(), shownSha);

    QTRY_COMPARE_WITH_TIMEOUT(page.counters()->passed(), 2, 60000);
    QVERIFY(page.tile("serial:BENCH01")->detailText().contains("A1000001"));
    QVERIFY(page.tile(second.portPath())->detailText().contains("A1000002"));
    QCOMPARE(fileBytes(folder.filePath("first.bin")), sent);
    QCOMPARE(fileBytes(folder.filePath("second.bin")), sent);
    QVERIFY(!console.filter("[" + second.portPath() + "] ").isEmpty());
    QVERIFY(!console.filter("[serial:BENCH01] ").isEmpty());

    QTest::mouseClick(form->pushButton_station_stop, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!page.isRunning(), 30000);
    QTest::keyClick(form->comboBox_station_target, Qt::Key_Down);
    QVERIFY(form->comboBox_station_target->currentIndex() != target);
    QVERIFY(form->label_station_imageSha256->text() != shownSha);

    // The run is one run of the record, a success per device.
    const auto succeeded = [&history, &page] {
        QStringList devices;
        for (const UpdateRecord &record : history.reader()->runRecords(page.runId())) {
            if (record.result == "success")
                devices << record.device;
        }
        devices.sort();
        return devices;
    };
    QTRY_COMPARE_WITH_TIMEOUT(succeeded(), QStringList({"A1000001", "A1000002"}), 10000);
}

QTEST_MAIN(tst_StationPage)
#include "tst_stationpage.moc"
