// The update page in the window: opening a firmware file, its facts and settings, and a
// whole update from the start button against the simulated device on a pty or behind a
// gateway on a mosquitto broker.
#include "app/batchupdatepage.h"
#include "app/console/appstartmessage.h"
#include "app/console/logdisplay.h"
#include "app/mainwindow.h"
#include "app/mymqttconfig.h"
#include "app/myserialport.h"
#include "app/windowhistory.h"
#include "app/windowupdatelink.h"
#include "history/historystore.h"
#include "links/gatewayupdatelink.h"
#include "mqtt/mqttclient.h"
#include "storage/nativefile.h"
#include "storage/settingskeys.h"
#include "tests/support/brokerprocess.h"
#include "tests/support/devsimprocess.h"
#include "tests/support/mqttprofile.h"
#include "ui_batchupdatepage.h"
#include "ui_mainwindow.h"
#include "update/updatesession.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QFileDialog>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray patternImage(int size)
{
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = char((i * 13 + 5) & 0xFF);
    return image;
}

// Answers the next file dialog: picks `path`, or cancels when it is empty.
void answerFileDialog(const QString &path)
{
    QTimer::singleShot(0, [path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (!dialog) {
            answerFileDialog(path);
            return;
        }
        if (path.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->selectFile(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

// Answers the question that the next close asks; `asked` says whether it asked one.
void answerQuestion(QMessageBox::StandardButton answer, bool *asked)
{
    QTimer::singleShot(0, [answer, asked] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        *asked = box != nullptr;
        if (box)
            box->button(answer)->click();
    });
}

QStringList consoleTexts(MainWindow &window)
{
    QStringList texts;
    const QStringList lines = window.console()->textArea()->toPlainText().split(QLatin1Char('\n'));
    for (const QString &line : lines)
        texts << line.section(QStringLiteral(" - (set-65): "), 1);
    return texts;
}

int tracedLines = 0;

} // namespace

class tst_Window : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void openFileShowsFactsAndRemembersPath();
    void cancelledDialogChangesNothing();
    void startWithoutImageSaysEmpty();
    void wholeUpdatesFromTheStartButton();
    void windowUpdatesLeaveTheirRecords();
    void startOnClosedPortEndsAtOnce();
    void closingTheWindowAbortsTheUpdate_data();
    void closingTheWindowAbortsTheUpdate();
    void wholeUpdateThroughTheGateway();
    void batchUpdateOfSeveralGateways();
    void unsubscribedGatewayIsRefusedAtOnce();
    void oldGatewayMessagesAnswerNoConnectAttempt_data();
    void oldGatewayMessagesAnswerNoConnectAttempt();

private:
    void openSimulatedPort(MainWindow &window, const QString &portPath);
    QByteArray receivedImage(const QString &path);
    QString writeImage(const QString &name, const QByteArray &content);
    QString storedItem(const QString &key);
    void startGatewayUpdate(MainWindow &window, const QString &imagePath);

    QTemporaryDir dir;
    QString previousDir;
};

void tst_Window::initTestCase()
{
    QVERIFY(dir.isValid());
    previousDir = QDir::currentPath();
    QDir::setCurrent(dir.path());
    writeImage(QStringLiteral("startContent.html"), "<p>start</p>");
    QDir(dir.path()).mkpath(QStringLiteral("store"));
}

void tst_Window::init()
{
    NativeFile().setPath_name(dir.filePath(QStringLiteral("store")), QStringLiteral("WORK_PARAMS.txt"));
    QFile::remove(dir.filePath(QStringLiteral("store/WORK_PARAMS.txt")));
}

void tst_Window::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<appStartMessage *>(w))
            delete w;
    }
}

QString tst_Window::writeImage(const QString &name, const QByteArray &content)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return path;
}

QString tst_Window::storedItem(const QString &key)
{
    QString value;
    return NativeFile().readItem(key, &value) ? value : QStringLiteral("<absent>");
}

void tst_Window::openFileShowsFactsAndRemembersPath()
{
    const QString path = writeImage(QStringLiteral("app.bin"), patternImage(12345));
    MainWindow window;
    Ui::MainWindow *ui = window.form();
    window.downloadedFirmware() = "from the cloud";

    answerFileDialog(path);
    QTest::mouseClick(ui->pushButton_update_openFile, Qt::LeftButton);

    QCOMPARE(ui->lineEdit__firmware_length->text(), QStringLiteral("12345"));
    QCOMPARE(ui->lineEdit_firmware_name->text(), QStringLiteral("app.bin"));
    QVERIFY(!ui->lineEdit__firmware_make_time->text().isEmpty());
    QCOMPARE(ui->comboBox_update_link->currentText(), path);
    QCOMPARE(ui->comboBox_update_link->toolTip(), path);
    QCOMPARE(storedItem(SettingsKeys::filePathFirmware), path);
    QCOMPARE(storedItem(SettingsKeys::dirListIndex), QStringLiteral("-1"));
    QVERIFY(window.downloadedFirmware().isEmpty());
    QVERIFY(window.lastReadOk);
    QCOMPARE(window.lastReadText, path);

    // The estimate follows the link: through a gateway nothing is known before a round trip.
    QVERIFY(ui->lineEdit__firmware_update_time->text().endsWith(QStringLiteral(" s")));
    ui->checkBox_sendUseNet->setChecked(true);
    QCOMPARE(ui->lineEdit__firmware_update_time->text(), QStringLiteral("—"));

    // A typed path is what is sent: its facts, or none while it names no readable file.
    window.downloadedFirmware() = "from the cloud";
    QTest::keyClicks(ui->comboBox_update_link->lineEdit(), QStringLiteral("x"));
    QVERIFY(window.downloadedFirmware().isEmpty() && ui->lineEdit_firmware_name->text().isEmpty());
    QVERIFY(ui->lineEdit__firmware_length->text().isEmpty() &&
            ui->lineEdit__firmware_update_time->text().isEmpty());
    QTest::keyClick(ui->comboBox_update_link->lineEdit(), Qt::Key_Backspace);
    QCOMPARE(ui->lineEdit__firmware_length->text(), QStringLiteral("12345"));
}

void tst_Window::cancelledDialogChangesNothing()
{
    MainWindow window;
    window.downloadedFirmware() = "from the cloud";
    answerFileDialog(QString());
    QTest::mouseClick(window.form()->pushButton_update_openFile, Qt::LeftButton);
    QCOMPARE(storedItem(SettingsKeys::filePathFirmware), QStringLiteral("<absent>"));
    QCOMPARE(window.downloadedFirmware(), QByteArray("from the cloud"));
    QVERIFY(window.form()->comboBox_update_link->currentText().isEmpty());
}

void tst_Window::startWithoutImageSaysEmpty()
{
    MainWindow window;
    QTest::mouseClick(window.form()->pushButton_update_start, Qt::LeftButton);
    const QStringList texts = consoleTexts(window);
    QCOMPARE(texts.mid(1), (QStringList{"use nation firmware", "firmware packet is empty"}));
}

void tst_Window::openSimulatedPort(MainWindow &window, const QString &portPath)
{
    Ui::MainWindow *ui = window.form();
    auto *ports = ui->widget_4->findChild<QComboBox *>(QStringLiteral("comboBox_serialport"));
    QVERIFY(ports);
    const int item = ports->findText(portPath + QLatin1Char(' '), Qt::MatchStartsWith);
    QVERIFY(item >= 0);
    if (ports->currentIndex() == item)
        QTest::mouseClick(ui->widget_4->findChild<QWidget *>(QStringLiteral("pushButton_openport")),
                          Qt::LeftButton);
    else
        ports->setCurrentIndex(item); // choosing a port opens it
    QVERIFY(window.serialWorker()->channel().isPortOpen());
    for (auto *box : ui->widget_4->findChildren<QComboBox *>()) {
        if (box != ports)
            box->setCurrentIndex(box->findText(QStringLiteral("115200")));
    }
    QCOMPARE(window.serialWorker()->channel().baudRate(), 115200);
}

QByteArray tst_Window::receivedImage(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<nothing received>");
}

void tst_Window::wholeUpdatesFromTheStartButton()
{
    const QString received = dir.filePath(QStringLiteral("received.bin"));
    DevsimProcess device;
    QVERIFY(device.start(
        {"--split-len", "256", "--uart-len", "128", "--device-addr", "00C0FFEE", "--output", received}));
    qputenv("PLOVIKKIT_EXTRA_PORTS", device.portPath().toLocal8Bit());
    MainWindow window;
    qunsetenv("PLOVIKKIT_EXTRA_PORTS");
    Ui::MainWindow *ui = window.form();
    openSimulatedPort(window, device.portPath());

    // A downloaded image is sent, with no debug trace (stderr of a desktop session is a file
    // nobody empties) until the menu's entry switches it on.
    const QByteArray downloaded = patternImage(512);
    window.downloadedFirmware() = downloaded;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &) {
            tracedLines += QByteArray(context.category).startsWith("plovik.");
        });
    const auto restoreHandler = qScopeGuard([previous] { qInstallMessageHandler(previous); });
    QTest::mouseClick(ui->pushButton_update_start, Qt::LeftButton); // returns when the session has ended
    QCOMPARE(tracedLines, 0);
    window.findChild<QAction *>(QStringLiteral("action_debugTrace"))->setChecked(true);
    QStringList texts = consoleTexts(window);
    QVERIFY2(texts.contains(QStringLiteral("firmware packet update success ")), qPrintable(texts.join('\n')));
    QVERIFY(texts.contains(QStringLiteral("use netserver firmware")));
    QCOMPARE(receivedImage(received), downloaded);
    QCOMPARE(window.downloadedFirmware(), downloaded); // the caller's array is never padded

    // Opening a local file drops the download; the next start sends the file.
    const QByteArray image = patternImage(1000);
    const QString path = writeImage(QStringLiteral("fw1000.bin"), image);
    answerFileDialog(path);
    QTest::mouseClick(ui->pushButton_update_openFile, Qt::LeftButton);
    window.console()->textArea()->clear();
    tracedLines = 0;
    QTest::mouseClick(ui->pushButton_update_start, Qt::LeftButton);

    QVERIFY(tracedLines > 0);
    texts = consoleTexts(window);
    QVERIFY2(texts.contains(QStringLiteral("firmware packet update success ")), qPrintable(texts.join('\n')));
    QVERIFY(texts.contains(QStringLiteral("use nation firmware")));
    QVERIFY(texts.contains(QStringLiteral("get deviceAddr: 00C0FFEE")));
    QCOMPARE(ui->lineEdit_targetDeviceAddr->text(), QStringLiteral("00C0FFEE"));
    QCOMPARE(ui->progressBar_upadate_progress->maximum(), 1024);
    QCOMPARE(ui->progressBar_upadate_progress->value(), 1024);
    QCOMPARE(receivedImage(received), image + QByteArray(24, char(0xFF)));
}

// Each window is closed before the next opens: its records are written by then, and the second
// one finds the device on record.
void tst_Window::windowUpdatesLeaveTheirRecords()
{
    DevsimProcess device;
    QVERIFY(device.start({"--split-len", "256", "--uart-len", "128", "--device-addr", "0BADF00D"}));
    const QByteArray image = patternImage(700);
    const QString path = writeImage(QStringLiteral("recorded.bin"), image);
    for (int update = 0; update < 2; ++update) {
        qputenv("PLOVIKKIT_EXTRA_PORTS", device.portPath().toLocal8Bit());
        MainWindow window;
        qunsetenv("PLOVIKKIT_EXTRA_PORTS");
        openSimulatedPort(window, device.portPath());
        answerFileDialog(path);
        QTest::mouseClick(window.form()->pushButton_update_openFile, Qt::LeftButton);
        QTest::mouseClick(window.form()->pushButton_update_start, Qt::LeftButton);
        const QStringList said =
            consoleTexts(window).filter(QStringLiteral("device 0BADF00D was last updated"));
        QCOMPARE(said.size(), update);
        if (update == 1)
            QVERIFY2(said.first().contains(QStringLiteral("recorded.bin")) &&
                         said.first().endsWith("success"),
                     qPrintable(said.first()));
    }

    HistoryStore store;
    QString problem;
    QVERIFY2(store.open(HistoryLocation::fromEnvironment(), &problem), qPrintable(problem));
    HistoryQuery ofThisImage; // the other tests' updates are on record too
    ofThisImage.imageSha256 =
        QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    const QList<UpdateRecord> records = store.find(ofThisImage);
    QCOMPARE(records.size(), 2);
    const UpdateRecord &last = records.first();
    QVERIFY(last.run != records.last().run); // one run per window update
    QCOMPARE(last.result, QStringLiteral("success"));
    QCOMPARE(last.device, QStringLiteral("0BADF00D"));
    QCOMPARE(last.link, QStringLiteral("serial"));
    QVERIFY(!last.target.isEmpty());
    QCOMPARE(last.targetKind, QStringLiteral("module"));
    QCOMPARE(last.imageSize, std::optional<qint64>(700));
    QCOMPARE(last.imageName, QStringLiteral("recorded.bin"));
    QCOMPARE(last.imageSource, path);
    QCOMPARE(last.splitLen, std::optional<int>(256));
    QVERIFY(last.ended.isValid() && last.seconds && last.bytesAcked.value_or(0) >= 700);
    QVERIFY(!last.station.isEmpty() && !last.operatorName.isEmpty());
}

void tst_Window::startOnClosedPortEndsAtOnce()
{
    MainWindow window;
    window.form()->comboBox_update_link->setEditText(writeImage(QStringLiteral("fw.bin"), patternImage(300)));
    QTest::mouseClick(window.form()->pushButton_update_start, Qt::LeftButton);
    const QStringList texts = consoleTexts(window);
    QVERIFY(texts.filter(QStringLiteral("trying to connect device")).isEmpty());
    const QString reason = texts.at(texts.size() - 2);
    QVERIFY2(reason.contains(QStringLiteral("not open")) || reason == QStringLiteral("no serial port chosen"),
             qPrintable(texts.join('\n')));
    QVERIFY(texts.last().startsWith(QStringLiteral("firmware update process over, use time=")));
}

void tst_Window::closingTheWindowAbortsTheUpdate_data()
{
    QTest::addColumn<QStringList>("deviceOptions");
    QTest::addColumn<int>("closeAnswer"); // NoButton: the window is not closed
    QTest::addColumn<QString>("reason");  // empty for a success
    const QStringList lengths{"--split-len", "256", "--uart-len", "128"};
    const QStringList refusing = lengths + QStringList{"--fail-frame", "6", "--restart-delay", "-1"};
    QTest::newRow("confirmed") << lengths << int(QMessageBox::NoButton) << QString();
    QTest::newRow("refused half way") << refusing << int(QMessageBox::NoButton) << "RETURN FAIL";
    QTest::newRow("closed") << QStringList{"--silent"} << int(QMessageBox::Yes) << "update aborted";
    QTest::newRow("kept open, then stopped")
        << QStringList{"--silent"} << int(QMessageBox::No) << "stopped by the user";
}

// However an update ends, the window says so beside the bar, green or red, with the session's
// reason, and leaves no unfinished percentage on the bar. Closing during an update asks first.
void tst_Window::closingTheWindowAbortsTheUpdate()
{
    QFETCH(QStringList, deviceOptions);
    QFETCH(int, closeAnswer);
    QFETCH(QString, reason);
    DevsimProcess device;
    QVERIFY(device.start(deviceOptions));
    qputenv("PLOVIKKIT_EXTRA_PORTS", device.portPath().toLocal8Bit());
    MainWindow window;
    qunsetenv("PLOVIKKIT_EXTRA_PORTS");
    Ui::MainWindow *ui = window.form();
    openSimulatedPort(window, device.portPath());
    ui->comboBox_update_link->setEditText(writeImage(QStringLiteral("fw.bin"), patternImage(1000)));
    window.show();
    bool asked = false;
    if (closeAnswer != QMessageBox::NoButton) // inside the update's wait, as a user's click would be
        QTimer::singleShot(0, &window, [&] {
            answerQuestion(QMessageBox::StandardButton(closeAnswer), &asked);
            window.close();
            if (closeAnswer == QMessageBox::No)
                QTest::mouseClick(ui->pushButton_update_stop, Qt::LeftButton);
        });
    QTest::mouseClick(ui->pushButton_update_start, Qt::LeftButton);

    const bool success = reason.isEmpty();
    const QColor colour = ui->label_update_status->palette().color(QPalette::WindowText);
    QCOMPARE(colour.green() > colour.red(), success);
    QProgressBar *bar = ui->progressBar_upadate_progress;
    QVERIFY(success ? bar->value() == bar->maximum() : bar->value() <= bar->minimum());
    const QString said = window.session()->failureReason();
    QVERIFY(said.contains(reason) &&
            ui->label_update_status->text().contains(success ? QStringLiteral("成功") : said));
    QVERIFY(ui->pushButton_update_start->isEnabled() && !ui->pushButton_update_stop->isEnabled());
    if (closeAnswer == QMessageBox::NoButton)
        return;
    QVERIFY(asked && window.isVisible() == (closeAnswer == QMessageBox::No));
    // The device stays silent, so only the abort can have cut the first 2 s wait short.
    const QStringList texts = consoleTexts(window);
    QCOMPARE(texts.filter(QStringLiteral("trying to connect device")),
             QStringList{"trying to connect device 0"});
    QCOMPARE(texts.at(texts.size() - 2), reason);
}

void tst_Window::startGatewayUpdate(MainWindow &window, const QString &imagePath)
{
    Ui::MainWindow *ui = window.form();
    ui->checkBox_sendUseNet->setChecked(true);
    ui->radioButton_target_gateway->setChecked(true);
    ui->comboBox_update_link->setEditText(imagePath);
    QTest::mouseClick(ui->pushButton_update_start, Qt::LeftButton);
}

void tst_Window::wholeUpdateThroughTheGateway()
{
    BrokerProcess broker;
    QVERIFY(broker.start());
    const QString received = dir.filePath(QStringLiteral("through-gateway.bin"));
    DevsimProcess gateway;
    QVERIFY(gateway.start({"--mqtt", broker.address(), "--gateway", "GW1", "--split-len", "256", "--uart-len",
                           "128", "--chatter", "5", "--output", received}));
    storeMqttProfile(broker.port(), QStringLiteral("GW1"));
    MainWindow window;
    window.findChild<QAction *>(QStringLiteral("action_mqttParams"))->trigger();
    QVERIFY(window.mqttWindow()->settingsWindow->isVisible());
    QSignalSpy subscribed(window.mqttWindow()->m_client, &MqttClient::subscribed);
    QTRY_COMPARE(subscribed.count(), 6);

    const QByteArray image = patternImage(700);
    startGatewayUpdate(window, writeImage(QStringLiteral("gw700.bin"), image));
    const QStringList texts = consoleTexts(window);
    QVERIFY2(texts.contains(QStringLiteral("firmware packet update success ")), qPrintable(texts.join('\n')));
    QCOMPARE(receivedImage(received), image + QByteArray(68, char(0xFF)));
}

// Three gateways ticked on the batch page, one of which refuses the image: the others get it,
// each row shows its own result, and the log says whose line each is.
void tst_Window::batchUpdateOfSeveralGateways()
{
    BrokerProcess broker;
    QVERIFY(broker.start());
    DevsimProcess gateways[3];
    const QStringList ids{"BA", "BB", "BC"};
    for (int i = 0; i < 3; ++i) {
        QStringList args{"--mqtt",      broker.address(),
                         "--gateway",   ids.at(i),
                         "--split-len", "256",
                         "--output",    dir.filePath(QStringLiteral("batch-%1.bin").arg(ids.at(i)))};
        if (i == 1)
            args << QStringList{"--fail-frame", "1", "--restart-delay", "-1"};
        QVERIFY(gateways[i].start(args));
    }
    storeMqttProfile(broker.port(), QStringLiteral("BA"));
    MainWindow window;
    QTRY_COMPARE(window.mqttWindow()->m_client->state(), MqttClient::Connected);
    Ui::MainWindow *ui = window.form();
    ui->radioButton_target_gateway->setChecked(true);
    const QByteArray image = patternImage(600);
    ui->comboBox_update_link->setEditText(writeImage(QStringLiteral("batch.bin"), image));

    BatchUpdatePage *page = window.batchPage();
    for (const QString &id : ids)
        QVERIFY(page->addGateway(id));
    QVERIFY(!page->addGateway(QStringLiteral("BA")));
    QSignalSpy finished(page, &BatchUpdatePage::batchFinished);
    QTest::mouseClick(page->form()->pushButton_batch_start, Qt::LeftButton);
    window.show();
    bool asked = false;
    answerQuestion(QMessageBox::No, &asked);
    window.close();
    QVERIFY(asked && window.isVisible() && page->isRunning());
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);

    QTableWidget *table = page->form()->tableWidget_batch;
    QCOMPARE(table->item(0, 4)->text(), QStringLiteral("成功"));
    QVERIFY(table->item(1, 4)->text().contains(QStringLiteral("FIRMWARE LEN")));
    QCOMPARE(table->item(2, 4)->text(), QStringLiteral("成功"));
    const QStringList texts = consoleTexts(window);
    QCOMPARE(texts.filter(QStringLiteral("[BA] firmware packet update success ")).size(), 1);
    QCOMPARE(texts.filter(QStringLiteral("[BB] firmware packet update success ")).size(), 0);
    QCOMPARE(receivedImage(dir.filePath(QStringLiteral("batch-BC.bin"))),
             image + QByteArray(168, char(0xFF)));

    // The batch is one run on record: its retry would take the gateway that failed only, and never
    // with another image; with "跳过已完成" the gateways that have the image are not sent it again.
    WindowHistory *history = window.updateHistory();
    const auto endedRecords = [history](const QString &run) {
        QList<UpdateRecord> ended = history->reader()->runRecords(run);
        ended.erase(
            std::remove_if(ended.begin(), ended.end(),
                           [](const UpdateRecord &r) { return r.result == QLatin1String("running"); }),
            ended.end());
        return ended;
    };
    const QString firstRun = page->runId();
    QTRY_COMPARE(endedRecords(firstRun).size(), 3);
    const QString sha =
        QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    QString problem;
    QCOMPARE(history->unfinishedTargets(firstRun, sha, &problem), QStringList{"BB"});
    page->form()->lineEdit_batch_retryRun->setText(firstRun);
    const QString imagePath = ui->comboBox_update_link->currentText();
    ui->comboBox_update_link->setEditText(writeImage(QStringLiteral("other.bin"), patternImage(601)));
    QTest::mouseClick(page->form()->pushButton_batch_start, Qt::LeftButton);
    QVERIFY(!page->isRunning() && page->runId() == firstRun);
    QVERIFY(page->form()->label_batch_status->text().contains(QStringLiteral("another image")));

    page->form()->lineEdit_batch_retryRun->clear();
    ui->comboBox_update_link->setEditText(imagePath);
    table->item(1, 0)->setCheckState(Qt::Unchecked);
    page->form()->checkBox_batch_skipDone->setChecked(true);
    QTest::mouseClick(page->form()->pushButton_batch_start, Qt::LeftButton);
    QTRY_COMPARE(finished.count(), 2);
    QCOMPARE(table->item(0, 1)->text(), QStringLiteral("跳过"));
    QTRY_COMPARE(endedRecords(page->runId()).size(), 2);
    for (const UpdateRecord &skipped : endedRecords(page->runId()))
        QVERIFY2(skipped.result == QLatin1String("skipped") && skipped.kind == QLatin1String("already-done"),
                 qPrintable(skipped.result + ' ' + skipped.reason));
}

// Its answers could never arrive: the update ends before its first connect attempt and says why.
void tst_Window::unsubscribedGatewayIsRefusedAtOnce()
{
    BrokerProcess broker;
    broker.refuseSubscriptions(QStringLiteral("thing/GWX/#"));
    QVERIFY(broker.start());
    storeMqttProfile(broker.port(), QStringLiteral("GWX"));
    MainWindow window;
    QTRY_COMPARE(window.mqttWindow()->m_client->state(), MqttClient::Connected);
    window.form()->checkBox_sendUseNet->setChecked(true);
    window.form()->radioButton_target_gateway->setChecked(true);
    QByteArray image(300, '\x5A');
    QTRY_VERIFY(consoleTexts(window).join('\n').contains(QStringLiteral("refused")));
    window.sendFirmwarePacket(QString(), &image);
    const QStringList texts = consoleTexts(window);
    QVERIFY2(texts.at(texts.size() - 2).startsWith(QStringLiteral("gateway GWX is not subscribed")),
             qPrintable(texts.join('\n')));
    QCOMPARE(texts.filter(QStringLiteral("trying to connect device ")).size(), 0);
}

void tst_Window::oldGatewayMessagesAnswerNoConnectAttempt_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("module") << "radioButton_target_directModue";
    QTest::newRow("demo board") << "radioButton_target_demoBoard";
    QTest::newRow("gateway") << "radioButton_target_gateway";
}

// A request queued while no session ran is forgotten at the boot entry, whatever the target.
void tst_Window::oldGatewayMessagesAnswerNoConnectAttempt()
{
    QFETCH(QString, target);
    BrokerProcess broker;
    QVERIFY(broker.start());
    storeMqttProfile(broker.port(), QStringLiteral("G1"));
    MainWindow window;
    QTRY_COMPARE(window.mqttWindow()->m_client->state(), MqttClient::Connected);
    window.form()->checkBox_sendUseNet->setChecked(true);
    window.findChild<QRadioButton *>(target)->setChecked(true);
    window.windowLink()->gatewayLink().setGatewayId(QStringLiteral("G1"));
    window.windowLink()->gatewayLink().take(R"({"params":[{"packet":"0C0001000180000000C3B2A100D4"}]})");
    window.sendBootCmd();
    QCOMPARE(window.waitRecvData(50), QByteArray());
}

QTEST_MAIN(tst_Window)
#include "tst_window.moc"
