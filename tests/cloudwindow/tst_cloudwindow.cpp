// The main window's cloud pages against scripts/cloud-sim: start-up requests after the window
// is shown, the version page, the catalogue (list, filter, row click and download), the upgrade,
// and a catalogue image flashed into the simulated device.
#include "accountlogin.h"
#include "boxcatcher.h"
#include "cloudsimprocess.h"
#include "configini.h"
#include "console/logdisplay.h"
#include "devsimprocess.h"
#include "mainwindow.h"
#include "myhttp.h"
#include "myserialport.h"
#include "settingskeys.h"
#include "ui_mainwindow.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QJsonObject reply(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

QJsonObject jsonReply(const QJsonValue &message, int code = 200)
{
    return QJsonObject{{"json", QJsonObject{{"code", code}, {"message", message}}}};
}

QString console(MainWindow &window)
{
    return window.console()->textArea()->toPlainText();
}

QString cell(MainWindow &window, int row, int column)
{
    const QTableWidgetItem *item = window.form()->tableWidget->item(row, column);
    return item ? item->text() : QString();
}

const QJsonArray records = QJsonDocument::fromJson(R"([
    {"id": 1, "originFileName": "fw_ble_v1.bin", "infor": "radio", "length": 4, "createTime": "2024-10-07",
     "owner": "ormund"},
    {"id": "7", "originFileName": "string_id.bin", "infor": "BLE gateway"},
    {"id": 3, "originFileName": "no_length.bin"}])")
                               .array();

} // namespace

class tst_CloudWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void startupRequestsRunAfterTheWindowIsShown();
    void versionPage_data();
    void versionPage();
    void catalogueListAndFilter();
    void rowClickDownloads_data();
    void rowClickDownloads();
    void upgrade_data();
    void upgrade();
    void loginListClickAndFlash();

private:
    QTemporaryDir work;
    CloudSimProcess server;
};

void tst_CloudWindow::initTestCase()
{
    QVERIFY(QDir(work.path()).mkpath("images"));
    QVERIFY(server.start(work.filePath("images")));
    qputenv("PLOVIKKIT_CLOUD_URL", server.url().toUtf8());
    QDir::setCurrent(work.path());
    QFile page(work.filePath("startContent.html"));
    QVERIFY(page.open(QIODevice::WriteOnly));
}

void tst_CloudWindow::init()
{
    std::unique_ptr<QSettings>(ConfigIni::open(nullptr))->clear();
    server.setReplies({});
    server.clearRequests();
    MyHttp::setTimeoutMs(MyHttp::kDefaultTimeoutMs);
}

void tst_CloudWindow::startupRequestsRunAfterTheWindowIsShown()
{
    {
        std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
        settings->setValue(SettingsKeys::accountName, "demo");
        settings->setValue(SettingsKeys::loginFlag, "OK");
    }
    server.setReplies({{"/file_infor/get", reply(R"({"silent": true})")}});
    MyHttp::setTimeoutMs(300);
    MainWindow window;
    QVERIFY(server.requests().isEmpty()); // construction sends nothing and never waits
    window.show();
    QVERIFY(window.isVisible());
    QTRY_COMPARE(server.requests().size(), 2); // the silent version query gave up, the login followed
    QCOMPARE(server.requests().at(0).value("query").toString(),
             QStringLiteral("projectModel=plovikKit-update&account=10000000000"));
    QCOMPARE(server.requests().at(1).value("path").toString(), QStringLiteral("/user_infor/login"));
}

void tst_CloudWindow::versionPage_data()
{
    QTest::addColumn<QJsonObject>("versionReply");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("dot");

    const auto versions = [](const QJsonValue &first, const QJsonValue &last) {
        return jsonReply(QJsonArray{QJsonObject{{"appVersion", first}}, QJsonObject{{"appVersion", last}}});
    };
    QTest::newRow("newer last") << versions("202401010000", "202501010000") << "202501010000" << true;
    QTest::newRow("older last") << versions("202501010000", "202401010000") << "202401010000" << false;
    QTest::newRow("equal") << versions("1", "202410071921") << "202410071921" << false;
    QTest::newRow("number, not text") << versions("1", 209901010000.0) << "2023061311638" << false;
    QTest::newRow("not numeric") << versions("1", "beta") << "beta" << false;
    QTest::newRow("empty list") << jsonReply(QJsonArray()) << "2023061311638" << false;
    QTest::newRow("code as text")
        << reply(R"({"json": {"code": "200", "message": [{"appVersion": "209901010000"}]}})")
        << "2023061311638" << false;
}

void tst_CloudWindow::versionPage()
{
    QFETCH(QJsonObject, versionReply);
    QFETCH(QString, label);
    QFETCH(bool, dot);
    server.setReplies({{"/file_infor/get", versionReply}});
    MainWindow window;
    window.show();
    QCoreApplication::processEvents(); // the queued start-up requests
    QCOMPARE(server.requests().size(), 1);
    QCOMPARE(window.form()->label_newAppVersion->text(), label);
    QCOMPARE(!window.form()->label_14->pixmap(Qt::ReturnByValue).isNull(), dot);
}

void tst_CloudWindow::catalogueListAndFilter()
{
    BoxCatcher catcher;
    MainWindow window;
    Ui::MainWindow *ui = window.form();
    QTest::mouseClick(ui->pushButton, Qt::LeftButton); // nobody logged in
    QCOMPARE(catcher.texts, QStringList{"请先登录或加载本地固件"});
    QVERIFY(server.requests().isEmpty());

    server.setReplies({{"/file_infor/get", QJsonArray{jsonReply(records), jsonReply(QJsonArray())}}});
    window.account()->loggedInAccount = QStringLiteral("demo");
    QTest::mouseClick(ui->pushButton, Qt::LeftButton);
    QCOMPARE(server.requests().last().value("query").toString(), QStringLiteral("account=demo"));
    QCOMPARE(ui->tableWidget->rowCount(), 3);
    QCOMPARE(cell(window, 0, 0), QStringLiteral("1"));
    QCOMPARE(cell(window, 0, 3), QStringLiteral("radio"));
    QCOMPARE(cell(window, 1, 0), QString()); // an id given as text is no id
    QCOMPARE(cell(window, 2, 1), QStringLiteral("no_length.bin"));

    ui->lineEdit_filter_text->setText(QStringLiteral("ble"));
    QCOMPARE(ui->tableWidget->rowCount(), 2);
    QCOMPARE(cell(window, 1, 1), QStringLiteral("string_id.bin"));
    QCOMPARE(cell(window, 1, 2), QStringLiteral("BLE gateway"));
    ui->lineEdit_filter_text->clear();
    QCOMPARE(ui->tableWidget->rowCount(), 3);

    QTest::mouseClick(ui->pushButton, Qt::LeftButton); // an empty catalogue
    QCOMPARE(ui->tableWidget->rowCount(), 0);
}

void tst_CloudWindow::rowClickDownloads_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QJsonObject>("download");
    QTest::addColumn<QByteArray>("image"); // netserverFirmware afterwards
    QTest::addColumn<QString>("length");
    QTest::addColumn<QString>("consoleLine");

    QTest::newRow("image of the record's length")
        << 0 << reply(R"({"hex": "01020304"})") << QByteArray("\x01\x02\x03\x04") << "4" << QString();
    QTest::newRow("short image") << 0 << reply(R"({"hex": "010203"})") << QByteArray("previous") << "4"
                                 << "3 bytes where the record gives 4";
    QTest::newRow("error envelope") << 0 << jsonReply("no such file", 404) << QByteArray("previous") << "4"
                                    << "code 404, message no such file";
    QTest::newRow("HTTP error") << 0 << reply(R"({"status": 500})") << QByteArray("previous") << "4"
                                << "HTTP status 500";
    QTest::newRow("no length given") << 2 << reply(R"({"hex": "0a0b"})") << QByteArray("\x0a\x0b") << "0"
                                     << QString();
    QTest::newRow("id as text: no download")
        << 1 << reply(R"({"hex": "0a0b"})") << QByteArray("previous") << "" << QString();
}

void tst_CloudWindow::rowClickDownloads()
{
    QFETCH(int, row);
    QFETCH(QJsonObject, download);
    QFETCH(QByteArray, image);
    QFETCH(QString, length);
    QFETCH(QString, consoleLine);
    server.setReplies({{"/file_infor/get", jsonReply(records)}, {"/file/download", download}});
    MainWindow window;
    Ui::MainWindow *ui = window.form();
    window.account()->loggedInAccount = QStringLiteral("demo");
    QTest::mouseClick(ui->pushButton, Qt::LeftButton);
    window.downloadedFirmware() = "previous";

    window.on_tableWidget_cellClicked(row, 1);
    QCOMPARE(window.downloadedFirmware(), image);
    QCOMPARE(ui->lineEdit__firmware_length->text(), length);
    if (!length.isEmpty())
        QCOMPARE(server.requests().last().value("query").toString(),
                 QStringLiteral("account=10000000000&id=%1").arg(row + 1));
    QCOMPARE(console(window).contains("previous image kept"), !consoleLine.isEmpty());
    QVERIFY2(console(window).contains(consoleLine), qPrintable(console(window)));
}

void tst_CloudWindow::upgrade_data()
{
    QTest::addColumn<QJsonObject>("download");
    QTest::addColumn<bool>("script");
    QTest::addColumn<QString>("written"); // the temporary build afterwards, "<none>" when absent
    QTest::addColumn<QString>("consoleLine");

    QTest::newRow("handed over") << reply(R"({"hex": "6e6577"})") << true << "new" << QString();
    QTest::newRow("no restart script") << reply(R"({"hex": "6e6577"})") << false << "new"
                                       << "new version not installed: restart script";
    QTest::newRow("error envelope") << jsonReply("none", 404) << true << "<none>"
                                    << "new version not installed";
    QTest::newRow("empty") << reply(R"({"body": ""})") << true << "<none>"
                           << "new version not installed";
    QTest::newRow("HTTP error") << reply(R"({"status": 404})") << true << "<none>"
                                << "new version download failed";
}

void tst_CloudWindow::upgrade()
{
    QFETCH(QJsonObject, download);
    QFETCH(bool, script);
    QFETCH(QString, written);
    QFETCH(QString, consoleLine);
    server.setReplies({{"/file/download", download}});
    QFile::remove("plovikKit-update-temp");
    QFile::remove("started");
    QFile restart("restart.sh");
    QFile::remove(restart.fileName());
    if (script) {
        QVERIFY(restart.open(QIODevice::WriteOnly));
        restart.write("touch started\n");
        restart.close();
    }
    MainWindow window;
    window.downloadedFirmware() = "firmware";
    QTest::mouseClick(window.form()->pushButton_2, Qt::LeftButton);

    QCOMPARE(server.requests().last().value("query").toString(),
             QStringLiteral("account=10000000000&projectModel=plovikKit-update"));
    QFile build("plovikKit-update-temp");
    QCOMPARE(build.open(QIODevice::ReadOnly) ? QString::fromUtf8(build.readAll()) : QStringLiteral("<none>"),
             written);
    QCOMPARE(window.downloadedFirmware(), QByteArray("firmware")); // never the device's image
    QVERIFY2(console(window).contains(consoleLine), qPrintable(console(window)));
    if (consoleLine.isEmpty())
        QTRY_VERIFY(QFile::exists("started"));
}

void tst_CloudWindow::loginListClickAndFlash()
{
    QFile image(work.filePath("images/fw_demo.bin"));
    QVERIFY(image.open(QIODevice::WriteOnly));
    const QByteArray firmware(700, '\x5a');
    image.write(firmware);
    image.close();
    const QString received = work.filePath("received.bin");
    DevsimProcess device;
    QVERIFY(device.start({"--split-len", "256", "--output", received}));
    qputenv("PLOVIKKIT_EXTRA_PORTS", device.portPath().toLocal8Bit());
    BoxCatcher catcher;
    MainWindow window;
    qunsetenv("PLOVIKKIT_EXTRA_PORTS");
    Ui::MainWindow *ui = window.form();

    QWidget *account = window.account()->openAccountWindow();
    account->findChildren<QLineEdit *>().at(0)->setText("demo");
    account->findChildren<QLineEdit *>().at(1)->setText("demo");
    for (QPushButton *button : account->findChildren<QPushButton *>()) {
        if (button->text() == QStringLiteral("登录"))
            QTest::mouseClick(button, Qt::LeftButton);
    }
    QCOMPARE(catcher.texts, QStringList{"登录成功"});
    QTest::mouseClick(ui->pushButton, Qt::LeftButton);
    QCOMPARE(cell(window, 0, 1), QStringLiteral("fw_demo.bin"));
    window.on_tableWidget_cellClicked(0, 0);
    QCOMPARE(window.downloadedFirmware(), firmware);

    auto *ports = ui->widget_4->findChild<QComboBox *>(QStringLiteral("comboBox_serialport"));
    ports->setCurrentIndex(ports->findText(device.portPath() + QLatin1Char(' '), Qt::MatchStartsWith));
    QVERIFY(window.serialWorker()->port()->isOpen());
    QTest::mouseClick(ui->pushButton_update_start, Qt::LeftButton);
    QVERIFY2(console(window).contains("use netserver firmware"), qPrintable(console(window)));
    QVERIFY(console(window).contains("firmware packet update success"));
    QFile sent(received);
    QVERIFY(sent.open(QIODevice::ReadOnly));
    QCOMPARE(sent.readAll().left(firmware.size()), firmware);
}

QTEST_MAIN(tst_CloudWindow)
#include "tst_cloudwindow.moc"
