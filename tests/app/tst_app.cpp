// The window shell: form defaults, start-up restore, console, start message window.
#include "app/accountlogin.h"
#include "app/console/appstartmessage.h"
#include "app/console/logdisplay.h"
#include "app/mainwindow.h"
#include "app/mymqttconfig.h"
#include "core/consoleline.h"
#include "mqtt/mqttclient.h"
#include "storage/nativefile.h"
#include "storage/settingskeys.h"
#include "tests/support/brokerprocess.h"
#include "tests/support/mqttprofile.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QStringList consoleLines(LogDisplay *console)
{
    return console->textArea()->toPlainText().split(QLatin1Char('\n'));
}

} // namespace

class tst_App : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void consoleLineFormat_data();
    void consoleLineFormat();
    void clearDisplayLeavesWelcomeOnly();
    void consoleKeepsTheNewestLines();

    void formDefaultsAfterConstruction();
    void fitsALaptopScreen_data();
    void fitsALaptopScreen();
    void titleFromProjectConf_data();
    void titleFromProjectConf();
    void lastFirmwareRestoredWithFacts();
    void unreadableRememberedFirmwareShowsPathOnly_data();
    void unreadableRememberedFirmwareShowsPathOnly();
    void startMessageShownExactlyOnce();
    void startMessageShowsContentFile();
    void closingTheWindowEndsTheTool();
    void menuBarEntries();
    void hexStr2Int32ReadsBigEndian_data();
    void hexStr2Int32ReadsBigEndian();
    void gatewayLinkWithoutBrokerEndsCleanly();

private:
    QTemporaryDir workDir;
    QString previousDir;
};

void tst_App::init()
{
    QVERIFY(workDir.isValid());
    previousDir = QDir::currentPath();
    QDir::setCurrent(workDir.path());
    writeFile(QStringLiteral("startContent.html"), "<p>hello start page</p>");
    QFile::remove(QStringLiteral("project.conf"));
    NativeFile().setPath_name(workDir.path() + QStringLiteral("/store"), QStringLiteral("WORK_PARAMS.txt"));
    QDir(workDir.path()).mkpath(QStringLiteral("store"));
    QFile::remove(workDir.path() + QStringLiteral("/store/WORK_PARAMS.txt"));
}

void tst_App::cleanup()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<appStartMessage *>(w))
            delete w;
    }
    QDir::setCurrent(previousDir);
}

void tst_App::consoleLineFormat_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "firmware packet is empty"
                           << "14:03:07.125 - (set-65): firmware packet is empty";
    QTest::newRow("empty") << ""
                           << "14:03:07.125 - (set-65): ";
    QTest::newRow("multi-line") << "a\nb"
                                << "14:03:07.125 - (set-65): a\nb";
}

void tst_App::consoleLineFormat()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(ConsoleLine::format(QStringLiteral("14:03:07.125"), text), expected);

    LogDisplay console;
    console.set(text);
    const QStringList lines = consoleLines(&console);
    const int added = text.count(QLatin1Char('\n')) + 1;
    QCOMPARE(lines.size(), 1 + added);
    QCOMPARE(lines.first(), QStringLiteral("Welcome ..."));
    const QRegularExpression stamp(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d - \\(set-65\\): "));
    QVERIFY(stamp.match(lines.at(1)).hasMatch());
    // Only the first line of a multi-line text carries the time stamp.
    for (int i = 2; i < lines.size(); ++i)
        QVERIFY(!stamp.match(lines.at(i)).hasMatch());
}

void tst_App::clearDisplayLeavesWelcomeOnly()
{
    LogDisplay console;
    console.set(QStringLiteral("one"));
    console.set(QStringLiteral("two"));
    auto *clear = console.consoleLayout()->itemAt(1)->widget();
    QVERIFY(qobject_cast<QPushButton *>(clear));
    QCOMPARE(qobject_cast<QPushButton *>(clear)->text(), QStringLiteral("Clear Display"));
    QTest::mouseClick(clear, Qt::LeftButton);
    QCOMPARE(console.textArea()->toPlainText(), QStringLiteral("Welcome ..."));
}

// A day of batches: the newest lines stay, a first line counts the dropped ones, and nothing
// else keeps them alive. Texts of two lines count as two.
void tst_App::consoleKeepsTheNewestLines()
{
    LogDisplay console;
    QStringList shown = consoleLines(&console);
    for (int i = 0; shown.size() < LogDisplay::kMaxLines + 5000; ++i) {
        const QString text = QString::fromLatin1(i % 3 ? "line %1" : "first %1\nsecond %1").arg(i);
        console.set(text);
        shown << text.split(QLatin1Char('\n'));
    }
    const QStringList kept = consoleLines(&console);
    const int dropped = shown.size() - LogDisplay::kMaxLines;
    QCOMPARE(kept.size(), LogDisplay::kMaxLines + 1);
    QVERIFY2(kept.first().contains(QRegularExpression(QStringLiteral("\\b%1\\b").arg(dropped))),
             qPrintable(kept.first()));
    QVERIFY(kept.at(1).endsWith(shown.at(dropped)) && kept.last().endsWith(shown.last()));
    QCOMPARE(console.textArea()->document()->availableUndoSteps(), 0);
}

void tst_App::formDefaultsAfterConstruction()
{
    MainWindow window;
    Ui::MainWindow *ui = window.form();
    QCOMPARE(window.windowTitle(), QStringLiteral("plovikKit"));
    QCOMPARE(ui->tabWidget->count(), 6);
    QCOMPARE(ui->tabWidget->currentIndex(), 0);
    QCOMPARE(ui->tabWidget->tabText(0), QStringLiteral("在线固件列表"));
    QCOMPARE(ui->tabWidget->tabText(1), QStringLiteral("日志"));
    QCOMPARE(ui->tabWidget->tabText(2), QStringLiteral("关于"));
    QVERIFY(ui->radioButton_target_directModue->isChecked());
    QVERIFY(!ui->checkBox_sendUseNet->isChecked());
    QCOMPARE(ui->progressBar_upadate_progress->value(), ui->progressBar_upadate_progress->minimum() - 1);
    QCOMPARE(ui->tableWidget->rowCount(), 6);
    QCOMPARE(ui->tableWidget->columnCount(), 4);
    QCOMPARE(ui->tableWidget->verticalHeaderItem(5)->text(), QStringLiteral("6"));
    QCOMPARE(ui->tableWidget->horizontalHeaderItem(3)->textAlignment(),
             int(Qt::AlignLeading | Qt::AlignVCenter));
    // The form carries exactly one cell item, an empty one at row 3, column 3.
    QVERIFY(ui->tableWidget->item(3, 3));
    QVERIFY(ui->tableWidget->item(3, 3)->text().isEmpty());
    QVERIFY(!ui->tableWidget->item(0, 0));
    QCOMPARE(ui->tableWidget->columnWidth(0), 50);
    QCOMPARE(ui->tableWidget->columnWidth(1), 440);
    QCOMPARE(ui->label_appVersion->text(), QStringLiteral("202410071921"));
    QCOMPARE(ui->label_appEditer->text(), QStringLiteral("ormund"));
    QCOMPARE(ui->label_appowder->text(), QStringLiteral("plovik"));
    QCOMPARE(ui->radioButton_target_demoBoard->toolTip(), QStringLiteral("不发送任何命令，等待升级请求"));
    QVERIFY(ui->comboBox_update_link->currentText().isEmpty());
    // The serial panel sits in the top strip.
    QVERIFY(ui->widget_4->findChild<QWidget *>(QStringLiteral("comboBox_serialport")));
    QVERIFY(ui->widget_4->findChild<QWidget *>(QStringLiteral("pushButton_openport")));

    window.show(); // the minimum is what the laid-out fields need
    window.resize(100, 100);
    QVERIFY(window.width() >= 350 && window.height() >= 475);
}

void tst_App::fitsALaptopScreen_data()
{
    QTest::addColumn<QSize>("screen");
    QTest::addColumn<int>("pointSize"); // the font the program takes for that screen
    QTest::newRow("1366x768") << QSize(1366, 768) << 8;
    QTest::newRow("1280x720") << QSize(1280, 720) << 7;
}

// With a 40-pixel desktop panel, the window and a 30-pixel title bar fit, and no field is crushed.
void tst_App::fitsALaptopScreen()
{
    QFETCH(QSize, screen);
    QFETCH(int, pointSize);
    const QFont usual = QApplication::font();
    const auto restore = qScopeGuard([usual] { QApplication::setFont(usual); });
    QApplication::setFont(QFont(usual.family(), pointSize));
    MainWindow window;
    window.fitToScreen(QRect(QPoint(0, 0), screen - QSize(0, 40)));
    window.show();
    QVERIFY(window.width() <= screen.width() && window.height() + 70 <= screen.height());
    for (QLineEdit *field :
         window.findChildren<QLineEdit *>(QRegularExpression(QStringLiteral("^lineEdit_"))))
        QVERIFY2(field->size().expandedTo(field->minimumSizeHint()) == field->size(),
                 qPrintable(field->objectName()));
    QVERIFY(window.form()->tableWidget->viewport()->height() >= 3 * window.form()->tableWidget->rowHeight(0));
}

void tst_App::titleFromProjectConf_data()
{
    QTest::addColumn<QByteArray>("projectConf");
    QTest::addColumn<QString>("title");
    QTest::newRow("no file") << QByteArray() << "plovikKit";
    QTest::newRow("title text") << QByteArray("{\n    \"APP_TITLE\": \"Field Flasher\"\n}\n")
                                << "Field Flasher";
    QTest::newRow("not a string") << QByteArray("{\"APP_TITLE\": 5}") << "plovikKit";
    QTest::newRow("not json") << QByteArray("APP_TITLE=x") << "plovikKit";
}

void tst_App::titleFromProjectConf()
{
    QFETCH(QByteArray, projectConf);
    QFETCH(QString, title);
    if (!projectConf.isNull())
        writeFile(QStringLiteral("project.conf"), projectConf);
    MainWindow window;
    QCOMPARE(window.windowTitle(), title);
}

void tst_App::lastFirmwareRestoredWithFacts()
{
    const QString image = workDir.path() + QStringLiteral("/empty_fw.bin");
    writeFile(image, QByteArray());
    NativeFile store;
    QVERIFY(store.writeItem(SettingsKeys::filePathFirmware, image));

    MainWindow window;
    Ui::MainWindow *ui = window.form();
    QCOMPARE(ui->comboBox_update_link->currentText(), image);
    QCOMPARE(ui->lineEdit__firmware_length->text(), QStringLiteral("0"));
    QCOMPARE(ui->lineEdit_firmware_name->text(), QStringLiteral("empty_fw.bin"));
    QVERIFY(!ui->lineEdit__firmware_make_time->text().isEmpty());
    QVERIFY(window.lastReadOk);
}

void tst_App::unreadableRememberedFirmwareShowsPathOnly_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("gone") << "gone";
    // Opening a FIFO to show its facts would keep the window from ever appearing.
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("device") << "/dev/zero";
}

void tst_App::unreadableRememberedFirmwareShowsPathOnly()
{
    QFETCH(QString, kind);
    QString image = workDir.path() + QStringLiteral("/") + kind + QStringLiteral(".bin");
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(image).constData(), 0600), 0);
    else if (kind.startsWith(QLatin1Char('/')))
        image = kind;
    NativeFile store;
    QVERIFY(store.writeItem(SettingsKeys::filePathFirmware, image));

    MainWindow window;
    Ui::MainWindow *ui = window.form();
    QCOMPARE(ui->comboBox_update_link->currentText(), image);
    QVERIFY(ui->lineEdit__firmware_length->text().isEmpty());
    QVERIFY(ui->lineEdit_firmware_name->text().isEmpty());
    QVERIFY(!window.lastReadOk);
    QVERIFY(window.console()->textArea()->toPlainText().contains(image +
                                                                 QStringLiteral(" is not a readable file")));
}

void tst_App::startMessageShownExactlyOnce()
{
    MainWindow window;
    auto startWindows = [] {
        int count = 0;
        for (QWidget *w : QApplication::topLevelWidgets())
            count += qobject_cast<appStartMessage *>(w) ? 1 : 0;
        return count;
    };
    QCOMPARE(startWindows(), 0);
    QTRY_COMPARE(startWindows(), 1);
    QTest::qWait(50); // many more ticks of the 1 ms timer
    QCOMPARE(startWindows(), 1);
    QVERIFY(window.startMessageWasShown());
}

void tst_App::startMessageShowsContentFile()
{
    appStartMessage message;
    QVERIFY(message.pageHtml().contains(QStringLiteral("hello start page")));
    QCOMPARE(message.size(), QSize(673, 380));
    QCOMPARE(message.windowModality(), Qt::WindowModal);
}

// The event loop ends only when no window is left open: the start page, the MQTT settings and
// the account window close with the main window.
void tst_App::closingTheWindowEndsTheTool()
{
    MainWindow window;
    window.show();
    QTRY_VERIFY(window.startMessageWasShown());
    window.mqttWindow()->settingsWindow->show();
    window.account()->openAccountWindow();
    window.close();
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!w->isVisible(), qPrintable(w->windowTitle()));
}

void tst_App::menuBarEntries()
{
    MainWindow window;
    const QList<QAction *> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 2);
    QCOMPARE(menus.at(0)->text(), QStringLiteral("文件"));
    QCOMPARE(menus.at(1)->text(), QStringLiteral("参数设置"));
    const QList<QAction *> fileEntries = menus.at(0)->menu()->actions();
    QCOMPARE(fileEntries.size(), 2);
    QCOMPARE(fileEntries.at(0)->text(), QStringLiteral("---"));
    // The settings entry opens the MQTT window.
    QAction *mqttEntry = menus.at(1)->menu()->actions().at(0);
    QCOMPARE(mqttEntry->text(), QStringLiteral("mqtt参数"));
    QVERIFY(!window.mqttWindow()->settingsWindow->isVisible());
    mqttEntry->trigger();
    QVERIFY(window.mqttWindow()->settingsWindow->isVisible());
    window.mqttWindow()->settingsWindow->close();
}

void tst_App::hexStr2Int32ReadsBigEndian_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("value");
    QTest::newRow("plain") << "12345678" << 0x12345678u;
    QTest::newRow("blanks") << "12 34 56 78 9A BC DE F0" << 0x12345678u;
    QTest::newRow("invalid pair") << "12zz5678" << 0x12005678u;
    QTest::newRow("short") << "AB" << 0xAB000000u;
    QTest::newRow("empty") << "" << 0u;
}

void tst_App::hexStr2Int32ReadsBigEndian()
{
    QFETCH(QString, text);
    QFETCH(uint, value);
    MainWindow window;
    QCOMPARE(window.hexStr2Int32(text), value);
}

void tst_App::gatewayLinkWithoutBrokerEndsCleanly()
{
    // No broker answers: the session ends before its first connect attempt, saying why.
    storeMqttProfile(BrokerProcess::unusedPort(), QStringLiteral("GW1"));
    MainWindow window;
    QTRY_COMPARE(window.mqttWindow()->m_client->state(), MqttClient::Disconnected);
    window.form()->checkBox_sendUseNet->setChecked(true);
    window.form()->radioButton_target_gateway->setChecked(true);
    QByteArray image(300, '\x5A');
    window.sendFirmwarePacket(QString(), &image);
    const QStringList lines = consoleLines(window.console());
    QVERIFY(lines.last().contains(QStringLiteral("firmware update process over, use time=")));
    QVERIFY(lines.at(lines.size() - 2).contains(QStringLiteral("): the MQTT broker is not connected: ")));
    QCOMPARE(lines.filter(QStringLiteral("trying to connect device ")).size(), 0);
    QCOMPARE(image, QByteArray(300, '\x5A'));
}

QTEST_MAIN(tst_App)
#include "tst_app.moc"
