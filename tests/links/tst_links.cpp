#include "configini.h"
#include "mycombobox.h"
#include "myserialport.h"
#include "platformpaths.h"
#include "serialchannel.h"
#include "serialportlist.h"

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
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

// A pseudo terminal: the test holds the master, the code under test opens the slave path.
class Pty
{
public:
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slavePath = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return master >= 0 && !slavePath.isEmpty(); }

    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    void send(const QByteArray &bytes)
    {
        QCOMPARE(::write(master, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    }

    // Everything the slave side wrote, collected until the line stays quiet for quietMs.
    QByteArray receive(int quietMs = 150)
    {
        QByteArray got;
        pollfd pfd{master, POLLIN, 0};
        while (::poll(&pfd, 1, quietMs) > 0 && (pfd.revents & POLLIN)) {
            char chunk[256];
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            got.append(chunk, int(n));
        }
        return got;
    }

    int master = -1;
    QString slavePath;
};

class TestLinks : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void frameCut_data();
    void frameCut();
    void getRecvWithZeroTimeoutReturnsAtOnce();
    void closedPortRequestsReportStatus7_data();
    void closedPortRequestsReportStatus7();
    void writeReachesTheLineUnchanged_data();
    void writeReachesTheLineUnchanged();
    void readWaitSeesNewBytes();
    void lostPtyClosesPortOnce();
    void presenceScan_data();
    void presenceScan();
    void stopWorkerJoins();

    void panelShowsPortsAndControls();
    void openPressedStoresSelection();
    void failedOpenStoresNothing();
    void restoresSelectionAndFreeBaudText();
    void storedPortNotListedKeepsFirst();
    void onlyLeftPressRefreshesList();
    void selectingPortOpensItAndLightFollows();

private:
    static void openOnPty(SerialChannel &channel, const Pty &pty, qint32 baud);
    static QString itemText(const QString &path) { return path + QStringLiteral(" virtual port"); }
    static QLabel *indicatorOf(QWidget &host);
};

void TestLinks::init()
{
    qunsetenv("PLOVIKKIT_EXTRA_PORTS");
    QFile::remove(PlatformPaths::settingsIniPath());
}

void TestLinks::openOnPty(SerialChannel &channel, const Pty &pty, qint32 baud)
{
    QVERIFY(pty.isValid());
    channel.port()->setPortName(pty.slavePath);
    channel.setSelectedPortName(pty.slavePath);
    channel.setBaudRate(baud);
    QVERIFY2(channel.openPort(), qPrintable(channel.lastOpenError()));
}

QLabel *TestLinks::indicatorOf(QWidget &host)
{
    for (QLabel *label : host.findChildren<QLabel *>()) {
        if (label->styleSheet().contains(QLatin1String("border-radius")))
            return label;
    }
    return nullptr;
}

void TestLinks::frameCut_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("gapMs");
    QTest::addColumn<QByteArray>("expectedFirst");
    QTest::addColumn<QByteArray>("expectedSecond");

    const QByteArray frame = QByteArray::fromHex("0500f10102030455");
    QTest::newRow("one burst is one frame") << 115200 << frame << QByteArray() << 0 << frame << QByteArray();
    QTest::newRow("gap above threshold gives two frames")
        << 115200 << QByteArray("abc") << QByteArray("def") << 150 << QByteArray("abc") << QByteArray("def");
    // 9600 baud waits 58 ticks of silence, far more than the gap.
    QTest::newRow("gap below threshold gives one frame")
        << 9600 << QByteArray("abc") << QByteArray("def") << 10 << QByteArray("abcdef") << QByteArray();
}

void TestLinks::frameCut()
{
    QFETCH(int, baud);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, gapMs);
    QFETCH(QByteArray, expectedFirst);
    QFETCH(QByteArray, expectedSecond);

    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, baud);
    channel.startWorker();

    // The bursts go out while getRecv sleeps in the event loop.
    QTimer::singleShot(20, [&] { pty.send(first); });
    if (!second.isEmpty())
        QTimer::singleShot(20 + gapMs, [&] { pty.send(second); });

    QCOMPARE(channel.getRecv(3000), expectedFirst);
    if (!expectedSecond.isEmpty())
        QCOMPARE(channel.getRecv(3000), expectedSecond);
    else
        QCOMPARE(channel.getRecv(300), QByteArray());
}

void TestLinks::getRecvWithZeroTimeoutReturnsAtOnce()
{
    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    channel.startWorker();
    QSignalSpy callBacks(&channel, &SerialChannel::callBack);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(channel.getRecv(0), QByteArray());
    QVERIFY(clock.elapsed() < 1000);
    QCOMPARE(callBacks.count(), 0);
}

void TestLinks::closedPortRequestsReportStatus7_data()
{
    QTest::addColumn<QString>("request");
    QTest::newRow("write text") << QStringLiteral("write text");
    QTest::newRow("write bytes") << QStringLiteral("write bytes");
    QTest::newRow("readWait") << QStringLiteral("readWait");
    QTest::newRow("getRecv") << QStringLiteral("getRecv");
}

void TestLinks::closedPortRequestsReportStatus7()
{
    QFETCH(QString, request);
    const QByteArray pending("xyz");
    const int timeoutMs = 200;

    // Without the worker, bytes that arrived stay in the receive buffer.
    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    pty.send(pending);
    QVERIFY(channel.readWait(2000));
    channel.closePort();

    QSignalSpy callBacks(&channel, &SerialChannel::callBack);
    QElapsedTimer clock;
    clock.start();
    if (request == QLatin1String("write text")) {
        channel.write("hello");
    } else if (request == QLatin1String("write bytes")) {
        channel.write("\x01\x02", 2);
    } else if (request == QLatin1String("readWait")) {
        QVERIFY(!channel.readWait(timeoutMs));
    } else {
        QCOMPARE(channel.getRecv(timeoutMs), QByteArray());
        QVERIFY(clock.elapsed() >= timeoutMs);
    }
    QCOMPARE(callBacks.count(), 1);
    QCOMPARE(callBacks.at(0).at(0).toInt(), int(SerialChannel::SPOS_SERIALPORT_ERROR_WRITE));
    QCOMPARE(callBacks.at(0).at(1).toByteArray(), pending);
    QCOMPARE(pty.receive(50), QByteArray());
}

void TestLinks::writeReachesTheLineUnchanged_data()
{
    QTest::addColumn<bool>("asText");
    QTest::addColumn<QByteArray>("bytes");
    // Line-discipline characters (NUL, LF, CR, XON, XOFF, ^C) must pass raw.
    QTest::newRow("bytes with length") << false << QByteArray("\x00\x0a\x0d\xff\x11\x13\x03\x7e", 8);
    QTest::newRow("text without terminator") << true << QByteArray("hello\r\n");
}

void TestLinks::writeReachesTheLineUnchanged()
{
    QFETCH(bool, asText);
    QFETCH(QByteArray, bytes);

    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    QSignalSpy callBacks(&channel, &SerialChannel::callBack);
    if (asText)
        channel.write(bytes.constData());
    else
        channel.write(bytes.constData(), bytes.size());
    QCOMPARE(pty.receive(), bytes);
    QCOMPARE(callBacks.count(), 0);
}

void TestLinks::readWaitSeesNewBytes()
{
    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    QVERIFY(!channel.readWait(50));
    // A negative time-out is no time at all, not the port's endless wait.
    QVERIFY(!channel.readWait(-1));
    pty.send("ok");
    QVERIFY(channel.readWait(2000));
    // What readWait took in is handed over as the next frame.
    channel.startWorker();
    QCOMPARE(channel.getRecv(2000), QByteArray("ok"));
}

void TestLinks::lostPtyClosesPortOnce()
{
    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    channel.startWorker();
    QSignalSpy lost(&channel, &SerialChannel::portLost);
    QSignalSpy openChanges(&channel, &SerialChannel::portOpenChanged);
    QSignalSpy callBacks(&channel, &SerialChannel::callBack);

    QTimer::singleShot(30, [&] { pty.closeMaster(); });
    QCOMPARE(channel.getRecv(300), QByteArray());
    QTRY_COMPARE(lost.count(), 1);
    QVERIFY(!channel.isPortOpen());
    QVERIFY(!channel.port()->isOpen());
    QTRY_VERIFY(!openChanges.isEmpty() && openChanges.last().at(0).toBool() == false);

    // A running update goes on with time-outs, and no second loss is reported.
    QCOMPARE(channel.getRecv(50), QByteArray());
    channel.write("\x01", 1);
    QCOMPARE(callBacks.count(), 2);
    QTest::qWait(300);
    QCOMPARE(lost.count(), 1);
}

void TestLinks::presenceScan_data()
{
    QTest::addColumn<bool>("listInEnvironment");
    QTest::addColumn<bool>("selectOtherName");
    QTest::addColumn<bool>("staysOpen");
    QTest::newRow("listed through PLOVIKKIT_EXTRA_PORTS") << true << false << true;
    QTest::newRow("device path that exists") << false << false << true;
    QTest::newRow("selected port not listed") << false << true << false;
}

void TestLinks::presenceScan()
{
    QFETCH(bool, listInEnvironment);
    QFETCH(bool, selectOtherName);
    QFETCH(bool, staysOpen);

    Pty pty;
    if (listInEnvironment)
        qputenv("PLOVIKKIT_EXTRA_PORTS", pty.slavePath.toLocal8Bit());
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    if (selectOtherName)
        channel.setSelectedPortName(QStringLiteral("ttyPLOVIKKIT_NOT_THERE"));
    QSignalSpy lost(&channel, &SerialChannel::portLost);
    channel.startWorker();

    if (staysOpen) {
        QTest::qWait(1000);
        QVERIFY(channel.isPortOpen());
        QCOMPARE(lost.count(), 0);
    } else {
        QTRY_VERIFY(!channel.isPortOpen());
        QTest::qWait(300);
        QCOMPARE(lost.count(), 1);
    }
}

void TestLinks::stopWorkerJoins()
{
    auto *channel = new SerialChannel;
    channel->startWorker();
    QVERIFY(channel->isRunning());
    channel->stopWorker();
    QVERIFY(channel->isFinished());
    channel->startWorker();
    QVERIFY(channel->isRunning());
    // The destructor joins the running worker.
    delete channel;
}

void TestLinks::panelShowsPortsAndControls()
{
    Pty pty;
    qputenv("PLOVIKKIT_EXTRA_PORTS", pty.slavePath.toLocal8Bit());
    mySerialPort serial;
    QVERIFY(serial.isRunning());
    QWidget host;
    host.setLayout(serial.getUi());

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
    QVERIFY(!serial.isPortOpen());
}

void TestLinks::openPressedStoresSelection()
{
    Pty pty;
    qputenv("PLOVIKKIT_EXTRA_PORTS", pty.slavePath.toLocal8Bit());
    mySerialPort serial;
    QWidget host;
    host.setLayout(serial.getUi());
    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    ports->setCurrentIndex(ports->findText(itemText(pty.slavePath)));
    serial.closePort();
    serial.setPortClosedByUser(true);

    // Choosing a baud rate while the port is closed opens it.
    QComboBox *baud = nullptr;
    for (QComboBox *box : host.findChildren<QComboBox *>())
        baud = box != ports ? box : baud;
    baud->setCurrentIndex(baud->findText(QStringLiteral("115200")));
    QVERIFY(serial.isPortOpen());
    QCOMPARE(serial.port()->baudRate(), 115200);
    QVERIFY(!serial.portClosedByUser());

    QSettings before(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
    QVERIFY(!before.contains(QStringLiteral("serial_com")));
    host.findChild<QPushButton *>(QStringLiteral("pushButton_openport"))->click();
    QSettings after(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
    QCOMPARE(after.value(QStringLiteral("serial_com")).toString(), itemText(pty.slavePath));
    QCOMPARE(after.value(QStringLiteral("serial_baudrate")).toString(), QStringLiteral("115200"));
}

void TestLinks::failedOpenStoresNothing()
{
    Pty pty;
    qputenv("PLOVIKKIT_EXTRA_PORTS", pty.slavePath.toLocal8Bit());
    {
        QSettings stored(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
        stored.setValue(QStringLiteral("serial_com"), itemText(pty.slavePath));
    }
    mySerialPort serial;
    QWidget host;
    host.setLayout(serial.getUi());
    // The chosen pty disappears before the user presses open.
    pty.closeMaster();
    host.findChild<QPushButton *>(QStringLiteral("pushButton_openport"))->click();
    QVERIFY(!serial.isPortOpen());
    QVERIFY(!serial.lastOpenError().isEmpty());
    QSettings stored(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
    QCOMPARE(stored.value(QStringLiteral("serial_com")).toString(), itemText(pty.slavePath));
    QVERIFY(!stored.contains(QStringLiteral("serial_baudrate")));
}

void TestLinks::restoresSelectionAndFreeBaudText()
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
    QWidget host;
    host.setLayout(serial.getUi());
    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    QCOMPARE(ports->currentText(), itemText(second.slavePath));
    QStringList bauds;
    for (QComboBox *box : host.findChildren<QComboBox *>()) {
        if (box != ports)
            bauds << box->currentText();
    }
    QCOMPARE(bauds, QStringList{QStringLiteral("12345")});
    QCOMPARE(serial.port()->baudRate(), 12345);
    QCOMPARE(serial.portLocation(), second.slavePath);
    QCOMPARE(serial.selectedPortName(), second.slavePath);
    QVERIFY(!serial.isPortOpen());
}

void TestLinks::storedPortNotListedKeepsFirst()
{
    Pty pty;
    qputenv("PLOVIKKIT_EXTRA_PORTS", pty.slavePath.toLocal8Bit());
    {
        QSettings stored(PlatformPaths::settingsIniPath(), QSettings::IniFormat);
        stored.setValue(QStringLiteral("serial_com"), QStringLiteral("/dev/ttyGONE virtual port"));
    }
    mySerialPort serial;
    QWidget host;
    host.setLayout(serial.getUi());
    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    QCOMPARE(ports->currentIndex(), 0);
    QVERIFY(!serial.isPortOpen());
}

void TestLinks::onlyLeftPressRefreshesList()
{
    Pty first;
    Pty second;
    qputenv("PLOVIKKIT_EXTRA_PORTS", first.slavePath.toLocal8Bit());
    mySerialPort serial;
    QWidget host;
    host.setLayout(serial.getUi());
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
    QVERIFY(!serial.isPortOpen());
}

void TestLinks::selectingPortOpensItAndLightFollows()
{
    Pty first;
    Pty second;
    qputenv("PLOVIKKIT_EXTRA_PORTS", (first.slavePath + QLatin1Char(':') + second.slavePath).toLocal8Bit());
    mySerialPort serial;
    QWidget host;
    host.setLayout(serial.getUi());
    auto *ports = host.findChild<MyComboBox *>(QStringLiteral("comboBox_serialport"));
    QLabel *light = indicatorOf(host);

    // The worker watches the new name from the moment the new port is open, not only once
    // the box has announced its new text (a scan in between would close the new port).
    QString watchedWhileOpen;
    connect(ports, QOverload<int>::of(&QComboBox::currentIndexChanged), &host, [&] {
        if (serial.isPortOpen())
            watchedWhileOpen = serial.selectedPortName();
    });
    ports->setCurrentIndex(ports->findText(itemText(second.slavePath)));
    QVERIFY(serial.isPortOpen());
    QCOMPARE(watchedWhileOpen, second.slavePath);
    QCOMPARE(serial.portLocation(), second.slavePath);
    QCOMPARE(serial.selectedPortName(), second.slavePath);
    QTRY_COMPARE(light->styleSheet(), QStringLiteral("background-color:green;border-radius: 10px;"));

    host.findChild<QPushButton *>(QStringLiteral("pushButton_closeport"))->click();
    QVERIFY(!serial.isPortOpen());
    QVERIFY(serial.portClosedByUser());
    QTRY_COMPARE(light->styleSheet(), QStringLiteral("background-color:red;border-radius: 10px;"));
    // Closed by the user, it stays closed although it is still listed.
    QTest::qWait(300);
    QVERIFY(!serial.isPortOpen());
}

QTEST_MAIN(TestLinks)
#include "tst_links.moc"
