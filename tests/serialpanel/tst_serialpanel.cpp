// The serial port panel: port list, baud box, open and close, the light and what it stores.
#include "app/mycombobox.h"
#include "app/myserialport.h"
#include "platform/platformpaths.h"
#include "platform/serialportlist.h"
#include "protocol/bootframe.h"
#include "storage/configini.h"
#include "tests/support/pty.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

class tst_SerialPanel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void panelShowsPortsAndControls();
    void openPressedStoresSelection();
    void failedOpenStoresNothing();
    void restoresSelectionAndFreeBaudText();
    void storedPortNotListedKeepsFirst();
    void onlyLeftPressRefreshesList();
    void selectingPortOpensItAndLightFollows();
    void serialNumberPickOpensTheAdapterItHasNow();

    void waitStartsWhenTheFrameHasLeftTheLine();
    void closedPortRequestsReportStatus7_data();
    void closedPortRequestsReportStatus7();
    void writeReachesTheLineUnchanged_data();
    void writeReachesTheLineUnchanged();
    void readWaitSeesNewBytes();
    void lostPtyEndsAWait();

private:
    static QString itemText(const QString &path) { return path + QStringLiteral(" virtual port"); }
    static QLabel *indicatorOf(QWidget &host);
    static void openOnPty(mySerialPort &serial, const Pty &pty, qint32 baud);
};

void tst_SerialPanel::openOnPty(mySerialPort &serial, const Pty &pty, qint32 baud)
{
    QVERIFY(pty.isValid());
    serial.channel().setPortName(pty.slavePath);
    serial.channel().setSelectedPortName(pty.slavePath);
    serial.channel().setBaudRate(baud);
    QVERIFY2(serial.channel().openPort(), qPrintable(serial.channel().lastOpenError()));
}

void tst_SerialPanel::init()
{
    qunsetenv("PLOVIKKIT_EXTRA_PORTS");
    QFile::remove(PlatformPaths::settingsIniPath());
}

QLabel *tst_SerialPanel::indicatorOf(QWidget &host)
{
    for (QLabel *label : host.findChildren<QLabel *>()) {
        if (label->styleSheet().contains(QLatin1String("border-radius")))
            return label;
    }
    return nullptr;
}

void tst_SerialPanel::panelShowsPortsAndControls()
{
    Pty pty;
    qputenv("PLOVIKKIT_EXTRA_PORTS", pty.slavePath.toLocal8Bit());
    mySerialPort serial;
    QWidget &host = serial;

    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    QVERIFY(ports);
    QStringList expected;
    for (const SerialPortEntry &entry : SerialPortList::availablePorts())
        expected << QStringLiteral("%1 %2").arg(entry.name, entry.description);
    QStringList shown;
    for (int i = 0; i < ports->count(); ++i)
        shown << ports->itemText(i);
    QCOMPARE(shown, expected);
    QVERIFY(shown.contains(itemText(pty.slavePath)));

    QStringList bauds;
    for (QComboBox *box : host.findChildren<QComboBox *>()) {
        if (box != ports) {
            QVERIFY(box->isEditable());
            for (int i = 0; i < box->count(); ++i)
                bauds << box->itemText(i);
        }
    }
    QCOMPARE(bauds, QStringList({"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200",
                                 "250000", "500000"}));
    QCOMPARE(host.findChild<QPushButton *>(QStringLiteral("pushButton_openport"))->text(),
             QStringLiteral("打开"));
    QCOMPARE(host.findChild<QPushButton *>(QStringLiteral("pushButton_closeport"))->text(),
             QStringLiteral("关闭"));
    QStringList labels;
    for (QLabel *label : host.findChildren<QLabel *>())
        labels << label->text();
    QVERIFY(labels.contains(QStringLiteral("串口选择")));
    QVERIFY(labels.contains(QStringLiteral("波特率")));
    QLabel *light = indicatorOf(host);
    QVERIFY(light);
    QCOMPARE(light->size(), QSize(20, 20));
    QCOMPARE(light->styleSheet(), QStringLiteral("background-color:red;border-radius: 10px;"));
    QVERIFY(!serial.channel().isPortOpen());
}

void tst_SerialPanel::openPressedStoresSelection()
{
    Pty pty;
    qputenv("PLOVIKKIT_EXTRA_PORTS", pty.slavePath.toLocal8Bit());
    mySerialPort serial;
    QWidget &host = serial;
    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    ports->setCurrentIndex(ports->findText(itemText(pty.slavePath)));
    serial.channel().closePort();
    serial.channel().setPortClosedByUser(true);

    // Choosing a baud rate while the port is closed opens it.
    QComboBox *baud = nullptr;
    for (QComboBox *box : host.findChildren<QComboBox *>())
        baud = box != ports ? box : baud;
    baud->setCurrentIndex(baud->findText(QStringLiteral("115200")));
    QVERIFY(serial.channel().isPortOpen());
    QCOMPARE(serial.channel().baudRate(), 115200);
    QVERIFY(!serial.channel().portClosedByUser());

    QSettings before(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
    QVERIFY(!before.contains(QStringLiteral("serial_com")));
    host.findChild<QPushButton *>(QStringLiteral("pushButton_openport"))->click();
    QSettings after(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
    QCOMPARE(after.value(QStringLiteral("serial_com")).toString(), itemText(pty.slavePath));
    QCOMPARE(after.value(QStringLiteral("serial_baudrate")).toString(), QStringLiteral("115200"));
}

void tst_SerialPanel::failedOpenStoresNothing()
{
    Pty pty;
    qputenv("PLOVIKKIT_EXTRA_PORTS", pty.slavePath.toLocal8Bit());
    {
        QSettings stored(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
        stored.setValue(QStringLiteral("serial_com"), itemText(pty.slavePath));
    }
    mySerialPort serial;
    QWidget &host = serial;
    // The chosen pty disappears before the user presses open.
    pty.closeMaster();
    host.findChild<QPushButton *>(QStringLiteral("pushButton_openport"))->click();
    QVERIFY(!serial.channel().isPortOpen());
    QVERIFY(!serial.channel().lastOpenError().isEmpty());
    QSettings stored(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("serial_com")).toString(), itemText(pty.slavePath));
    QVERIFY(!stored.contains(QStringLiteral("serial_baudrate")));
}

void tst_SerialPanel::restoresSelectionAndFreeBaudText()
{
    Pty first;
    Pty second;
    qputenv("PLOVIKKIT_EXTRA_PORTS", (first.slavePath + QLatin1Char(':') + second.slavePath).toLocal8Bit());
    {
        QSettings stored(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
        stored.setValue(QStringLiteral("serial_com"), itemText(second.slavePath));
        stored.setValue(QStringLiteral("serial_baudrate"), QStringLiteral("12345"));
    }
    mySerialPort serial;
    QWidget &host = serial;
    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    QCOMPARE(ports->currentText(), itemText(second.slavePath));
    QStringList bauds;
    for (QComboBox *box : host.findChildren<QComboBox *>()) {
        if (box != ports)
            bauds << box->currentText();
    }
    QCOMPARE(bauds, QStringList{QStringLiteral("12345")});
    QCOMPARE(serial.channel().baudRate(), 12345);
    QCOMPARE(serial.channel().portLocation(), second.slavePath);
    QCOMPARE(serial.channel().selectedPortName(), second.slavePath);
    QVERIFY(!serial.channel().isPortOpen());
}

void tst_SerialPanel::storedPortNotListedKeepsFirst()
{
    Pty pty;
    qputenv("PLOVIKKIT_EXTRA_PORTS", pty.slavePath.toLocal8Bit());
    {
        QSettings stored(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
        stored.setValue(QStringLiteral("serial_com"), QStringLiteral("/dev/ttyGONE virtual port"));
    }
    mySerialPort serial;
    QWidget &host = serial;
    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    QCOMPARE(ports->currentIndex(), 0);
    QVERIFY(!serial.channel().isPortOpen());
}

void tst_SerialPanel::onlyLeftPressRefreshesList()
{
    Pty first;
    Pty second;
    qputenv("PLOVIKKIT_EXTRA_PORTS", first.slavePath.toLocal8Bit());
    mySerialPort serial;
    QWidget &host = serial;
    host.show();
    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    const int before = ports->count();
    const QString selected = ports->currentText();
    qputenv("PLOVIKKIT_EXTRA_PORTS", (second.slavePath + QLatin1Char(':') + first.slavePath).toLocal8Bit());
    QSignalSpy pressed(ports, &MyComboBox::clicked);

    QTest::mousePress(ports, Qt::RightButton);
    QCOMPARE(pressed.count(), 0);
    QCOMPARE(ports->count(), before);

    QTest::mousePress(ports, Qt::LeftButton);
    ports->hidePopup();
    QCOMPARE(pressed.count(), 1);
    QCOMPARE(ports->count(), before + 1);
    QCOMPARE(ports->currentText(), selected);
    QVERIFY(!serial.channel().isPortOpen());
}

void tst_SerialPanel::selectingPortOpensItAndLightFollows()
{
    Pty first;
    Pty second;
    qputenv("PLOVIKKIT_EXTRA_PORTS", (first.slavePath + QLatin1Char(':') + second.slavePath).toLocal8Bit());
    mySerialPort serial;
    QWidget &host = serial;
    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    QLabel *light = indicatorOf(host);

    // The worker watches the new name from the moment the new port is open, not only once
    // the box has announced its new text (a scan in between would close the new port).
    QString watchedWhileOpen;
    connect(ports, QOverload<int>::of(&QComboBox::currentIndexChanged), &host, [&] {
        if (serial.channel().isPortOpen())
            watchedWhileOpen = serial.channel().selectedPortName();
    });
    ports->setCurrentIndex(ports->findText(itemText(second.slavePath)));
    QVERIFY(serial.channel().isPortOpen());
    QCOMPARE(watchedWhileOpen, second.slavePath);
    QCOMPARE(serial.channel().portLocation(), second.slavePath);
    QCOMPARE(serial.channel().selectedPortName(), second.slavePath);
    QTRY_COMPARE(light->styleSheet(), QStringLiteral("background-color:green;border-radius: 10px;"));

    host.findChild<QPushButton *>(QStringLiteral("pushButton_closeport"))->click();
    QVERIFY(!serial.channel().isPortOpen());
    QVERIFY(serial.channel().portClosedByUser());
    QTRY_COMPARE(light->styleSheet(), QStringLiteral("background-color:red;border-radius: 10px;"));
    // Closed by the user, it stays closed although it is still listed.
    QTest::qWait(300);
    QVERIFY(!serial.channel().isPortOpen());
}

// The panel's blocking slots wait in a local loop on the channel, which never waits itself.
// At 1200 baud a 136-byte frame needs 1.13 s on the line, longer than a packet's reply wait.
void tst_SerialPanel::serialNumberPickOpensTheAdapterItHasNow()
{
    Pty first;
    Pty second;
    qputenv("PLOVIKKIT_EXTRA_PORTS", (first.slavePath + "=SN7:" + second.slavePath).toLocal8Bit());
    mySerialPort serial;
    auto *ports = serial.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    QVERIFY(ports->findText(itemText(first.slavePath) + " serial=SN7") >= 0);
    ports->setCurrentIndex(ports->findText(QStringLiteral("serial:SN7"), Qt::MatchStartsWith));
    QCOMPARE(serial.channel().portLocation(), first.slavePath);

    // Re-plugged under the other tty: open takes the adapter where it is now.
    serial.findChild<QPushButton *>(QStringLiteral("pushButton_closeport"))->click();
    qputenv("PLOVIKKIT_EXTRA_PORTS", (first.slavePath + ":" + second.slavePath + "=SN7").toLocal8Bit());
    serial.findChild<QPushButton *>(QStringLiteral("pushButton_openport"))->click();
    QVERIFY(serial.channel().isPortOpen());
    QCOMPARE(serial.channel().selectedPortName(), second.slavePath);

    // Two adapters answering to one serial number: neither is opened, and the user is told why.
    serial.findChild<QPushButton *>(QStringLiteral("pushButton_closeport"))->click();
    qputenv("PLOVIKKIT_EXTRA_PORTS", (first.slavePath + "=SN7:" + second.slavePath + "=SN7").toLocal8Bit());
    QSignalSpy notFound(&serial, &mySerialPort::portNotFound);
    serial.findChild<QPushButton *>(QStringLiteral("pushButton_openport"))->click();
    QVERIFY(!serial.channel().isPortOpen());
    QCOMPARE(notFound.count(), 1);
    QVERIFY2(notFound.first().first().toString().contains(QStringLiteral("SN7")),
             qPrintable(notFound.first().first().toString()));
}

void tst_SerialPanel::waitStartsWhenTheFrameHasLeftTheLine()
{
    Pty pty;
    mySerialPort serial;
    openOnPty(serial, pty, 1200);
    const QByteArray packet(136, '\x5a');
    const QByteArray answer = BootFrame::makeBootFrame(BootCmd::FirmwareContinue, QByteArray(1, '\0'));
    serial.write(packet.constData(), packet.size());
    QTimer::singleShot(1180, this, [&] { pty.send(answer); });
    QCOMPARE(serial.getRecv(400), answer);
}

void tst_SerialPanel::closedPortRequestsReportStatus7_data()
{
    QTest::addColumn<QString>("request");
    QTest::newRow("write text") << QStringLiteral("write text");
    QTest::newRow("write bytes") << QStringLiteral("write bytes");
    QTest::newRow("readWait") << QStringLiteral("readWait");
    QTest::newRow("getRecv") << QStringLiteral("getRecv");
    QTest::newRow("an update's send") << QStringLiteral("send");
}

void tst_SerialPanel::closedPortRequestsReportStatus7()
{
    QFETCH(QString, request);
    const QByteArray pending("xyz");
    const int timeoutMs = 200;

    // Bytes that arrived but were never taken go out with the status.
    Pty pty;
    mySerialPort serial;
    openOnPty(serial, pty, 115200);
    QVERIFY(pty.send(pending));
    QVERIFY(serial.readWait(2000));
    serial.channel().closePort();

    QSignalSpy callBacks(&serial, &mySerialPort::callBack);
    QElapsedTimer clock;
    clock.start();
    if (request == QLatin1String("write text")) {
        serial.write("hello");
    } else if (request == QLatin1String("write bytes")) {
        serial.write("\x01\x02", 2);
    } else if (request == QLatin1String("readWait")) {
        QVERIFY(!serial.readWait(timeoutMs));
    } else if (request == QLatin1String("send")) {
        QVERIFY(!serial.channel().send("\x01\x02"));
    } else {
        QCOMPARE(serial.getRecv(timeoutMs), QByteArray());
        QVERIFY(clock.elapsed() >= timeoutMs);
    }
    QCOMPARE(callBacks.count(), 1);
    QCOMPARE(callBacks.at(0).at(0).toInt(), int(mySerialPort::SPOS_SERIALPORT_ERROR_WRITE));
    QCOMPARE(callBacks.at(0).at(1).toByteArray(), pending);
    QCOMPARE(pty.receive(50), QByteArray());
    QCOMPARE(serial.channel().unavailableReason(),
             QStringLiteral("serial port %1 is not open").arg(pty.slavePath));
}

void tst_SerialPanel::writeReachesTheLineUnchanged_data()
{
    QTest::addColumn<bool>("asText");
    QTest::addColumn<QByteArray>("bytes");
    // Line-discipline characters (NUL, LF, CR, XON, XOFF, ^C) must pass raw.
    QTest::newRow("bytes with length") << false << QByteArray("\x00\x0a\x0d\xff\x11\x13\x03\x7e", 8);
    QTest::newRow("text without terminator") << true << QByteArray("hello\r\n");
}

// The write returns once its bytes are with the system: the pty has them without another
// turn of the event loop.
void tst_SerialPanel::writeReachesTheLineUnchanged()
{
    QFETCH(bool, asText);
    QFETCH(QByteArray, bytes);

    Pty pty;
    mySerialPort serial;
    openOnPty(serial, pty, 115200);
    QSignalSpy callBacks(&serial, &mySerialPort::callBack);
    if (asText)
        serial.write(bytes.constData());
    else
        serial.write(bytes.constData(), bytes.size());
    QCOMPARE(pty.receive(), bytes);
    QCOMPARE(callBacks.count(), 0);
}

void tst_SerialPanel::readWaitSeesNewBytes()
{
    Pty pty;
    mySerialPort serial;
    openOnPty(serial, pty, 115200);
    QSignalSpy callBacks(&serial, &mySerialPort::callBack);
    QVERIFY(!serial.readWait(50));
    // A negative or zero time-out is no time at all, not the port's endless wait.
    QVERIFY(!serial.readWait(-1));
    QCOMPARE(serial.getRecv(0), QByteArray());
    QCOMPARE(callBacks.count(), 0);
    QVERIFY(pty.send("ok"));
    QVERIFY(serial.readWait(2000));
    // What readWait took in is still handed over as the next reply.
    QCOMPARE(serial.getRecv(2000), QByteArray("ok"));
}

void tst_SerialPanel::lostPtyEndsAWait()
{
    Pty pty;
    mySerialPort serial;
    openOnPty(serial, pty, 115200);
    QTimer::singleShot(30, [&] { pty.closeMaster(); });
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(serial.getRecv(20000), QByteArray());
    QVERIFY2(clock.elapsed() < 5000, "the wait went on after the port was lost");
    QVERIFY(!serial.channel().isPortOpen());
}

QTEST_MAIN(tst_SerialPanel)
#include "tst_serialpanel.moc"
