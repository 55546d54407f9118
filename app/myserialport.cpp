#include "app/myserialport.h"

#include "app/mycombobox.h"
#include "core/eventwait.h"
#include "platform/portidentity.h"
#include "platform/serialportlist.h"
#include "protocol/wiretiming.h"
#include "storage/configini.h"
#include "storage/settingskeys.h"

#include "core/debugtrace.h"
#include <QComboBox>

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTime>

namespace {

const char *const indicatorRed = "background-color:red;border-radius: 10px;";
const char *const indicatorGreen = "background-color:green;border-radius: 10px;";
constexpr int indicatorSize = 20;
constexpr int writeWaitForLengthMs = 1000;

void traceTransfer(const char *tail)
{
    TRACE(lcSerial) << "mySerialPort" << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"))
                    << tail;
}

} // namespace

mySerialPort::mySerialPort(QWidget *parent) : QWidget(parent)
{
    baudList = QStringList{QStringLiteral("1200"),  QStringLiteral("2400"),   QStringLiteral("4800"),
                           QStringLiteral("9600"),  QStringLiteral("19200"),  QStringLiteral("38400"),
                           QStringLiteral("57600"), QStringLiteral("115200"), QStringLiteral("250000"),
                           QStringLiteral("500000")};
    panelLayout = new QHBoxLayout(this);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    portListBox = new MyComboBox(this);
    baudBox = new QComboBox(this);
    openButton = new QPushButton(this);
    closeButton = new QPushButton(this);
    indicator = new QLabel(this);
    settings = ConfigIni::open(this);

    // The presence scan watches this copy of the chosen name.
    connect(portListBox, &QComboBox::currentTextChanged, this,
            [this](const QString &text) { serialChannel.setSelectedPortName(portPathOfItem(text)); });
    connect(&serialChannel, &SerialChannel::portOpenChanged, this, &mySerialPort::showOpenState);
    connect(&serialChannel, &SerialChannel::sendRefused, this,
            [this](const QByteArray &untaken) { emit callBack(SPOS_SERIALPORT_ERROR_WRITE, untaken); });
    connect(&serialChannel, &SerialChannel::threadCallBack, this, &mySerialPort::threadCallBack);

    buildPortGroup();
    buildBaudGroup();
    buildButtons();
    buildIndicator();
    applyPanelToPort();
}

mySerialPort::~mySerialPort()
{
    TRACE(lcSerial) << "~mySerialPort";
}

QString mySerialPort::portNameOfItem(const QString &itemText)
{
    return itemText.section(QLatin1Char(' '), 0, 0);
}

QString mySerialPort::portPathOfItem(const QString &itemText)
{
    const QString name = portNameOfItem(itemText);
    QString path;
    QString problem;
    if (PortIdentity::resolve(name, &path, &problem))
        return path;
    TRACE(lcSerial).noquote() << problem;
    return name;
}

// The box reports its new text only after a selection's handler; a presence scan in between must
// not judge the newly opened port by the old name, so the channel is told the name here.
bool mySerialPort::choosePortOfItem(const QString &itemText)
{
    const QString name = portNameOfItem(itemText);
    QString path;
    QString problem;
    if (!PortIdentity::resolve(name, &path, &problem)) {
        if (serialChannel.isPortOpen()) {
            serialChannel.setPortClosedByUser(true);
            serialChannel.closePort();
        }
        emit portNotFound(problem);
        return false;
    }
    serialChannel.setSelectedPortName(path);
    serialChannel.setPortName(path);
    return true;
}

QString mySerialPort::chosenPortName() const
{
    const QString chosen = portNameOfItem(portListBox->currentText());
    return PortIdentity::namesSerialNumber(chosen) ? chosen : serialChannel.portName();
}

QHBoxLayout *mySerialPort::getUi()
{
    return panelLayout;
}

void mySerialPort::uartPortCallBack()
{
    serialChannel.readArrivedBytes();
}

void mySerialPort::write(const char *data)
{
    const QByteArray text(data);
    const qint32 baud = serialChannel.baudRate();
    writeAndWait(text, baud > 0 ? int(WireTiming::lineMs(text.size(), baud)) : writeWaitForLengthMs);
}

void mySerialPort::write(const char *data, qlonglong len)
{
    writeAndWait(len > 0 ? QByteArray(data, int(len)) : QByteArray(), writeWaitForLengthMs);
}

// The worker's own writes wait for their bytes to leave, as their callers always did.
void mySerialPort::writeAndWait(const QByteArray &bytes, int waitMs)
{
    if (!serialChannel.isPortOpen()) {
        emitClosedPortError();
        return;
    }
    traceTransfer("------------");
    serialChannel.send(bytes);
    EventWait::waitUntil([this] { return serialChannel.bytesToWrite() == 0 || !serialChannel.isPortOpen(); },
                         waitMs);
    traceTransfer("------------");
}

bool mySerialPort::readWait(int timeout_ms)
{
    if (!serialChannel.isPortOpen()) {
        emitClosedPortError();
        return false;
    }
    const quint64 before = serialChannel.receivedByteCount();
    const auto arrivedOrClosed = [&] {
        return serialChannel.receivedByteCount() != before || !serialChannel.isPortOpen();
    };
    // A negative time-out is no time at all, never a wait for ever.
    const qint64 waitMs = serialChannel.msUntilLineFree() + qMax(0, timeout_ms);
    return EventWait::waitUntil(arrivedOrClosed, waitMs) && serialChannel.receivedByteCount() != before;
}

QByteArray mySerialPort::getRecv(int timeout_ms)
{
    if (serialChannel.isPortOpen())
        return takeReply(timeout_ms);
    emitClosedPortError();
    EventWait::delayMs(timeout_ms);
    return QByteArray();
}

QByteArray mySerialPort::takeReply(int timeoutMs)
{
    traceTransfer("------------");
    const auto replyOrEnd = [this] { return serialChannel.hasReply() || !serialChannel.isPortOpen(); };
    const qint64 waitMs = serialChannel.msUntilLineFree() + qMax(0, timeoutMs);
    if (!EventWait::waitUntil(replyOrEnd, waitMs) || !serialChannel.hasReply()) {
        traceTransfer("time out------------");
        return QByteArray();
    }
    return serialChannel.takeQueuedReply();
}

void mySerialPort::emitClosedPortError()
{
    emit callBack(SPOS_SERIALPORT_ERROR_WRITE, serialChannel.untakenBytes());
}

void mySerialPort::buildPortGroup()
{
    auto *group = new QHBoxLayout;
    group->addWidget(new QLabel(tr("串口选择"), this));
    group->addWidget(portListBox);
    portListBox->setObjectName(QStringLiteral("comboBox_serialport"));
    portListBox->clear();
    fillPortList();
    const QString storedPort = settings->value(SettingsKeys::serialCom).toString();
    if (!storedPort.isEmpty()) {
        const int index = portListBox->findText(storedPort);
        if (index >= 0)
            portListBox->setCurrentIndex(index);
    }
    connect(portListBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &mySerialPort::onPortSelected);
    connect(portListBox, &MyComboBox::clicked, this, &mySerialPort::onPortListPressed);
    panelLayout->addLayout(group);
}

void mySerialPort::buildBaudGroup()
{
    auto *group = new QHBoxLayout;
    group->addWidget(new QLabel(tr("波特率"), this));
    baudBox->setEditable(true);
    baudBox->addItems(baudList);
    const QString storedBaud = settings->value(SettingsKeys::serialBaudrate).toString();
    if (!storedBaud.isEmpty()) {
        const int index = baudBox->findText(storedBaud);
        if (index >= 0)
            baudBox->setCurrentIndex(index);
        else
            baudBox->setEditText(storedBaud);
    }
    connect(baudBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &mySerialPort::onBaudRateSelected);
    group->addWidget(baudBox);
    panelLayout->addLayout(group);
}

void mySerialPort::buildButtons()
{
    openButton->setText(tr("打开"));
    openButton->setObjectName(QStringLiteral("pushButton_openport"));
    connect(openButton, &QPushButton::clicked, this, &mySerialPort::onOpenPressed);
    panelLayout->addWidget(openButton);

    closeButton->setText(tr("关闭"));
    closeButton->setObjectName(QStringLiteral("pushButton_closeport"));
    panelLayout->addWidget(closeButton);
    connect(closeButton, &QPushButton::clicked, this, &mySerialPort::onClosePressed);
}

void mySerialPort::buildIndicator()
{
    indicator->setFixedSize(indicatorSize, indicatorSize);
    indicator->setStyleSheet(QLatin1String(indicatorRed));
    panelLayout->addWidget(indicator);
}

void mySerialPort::applyPanelToPort()
{
    serialChannel.setBaudRate(baudBox->currentText().toInt(nullptr, 10));
    serialChannel.setPortName(portPathOfItem(portListBox->currentText()));
}

// A port whose adapter has a serial number is offered by that number too, which stays right
// when the adapter comes back under another tty name: so does a choice stored by that item.
void mySerialPort::fillPortList()
{
    const QList<SerialPortEntry> ports = SerialPortList::availablePorts();
    QStringList names;
    for (const SerialPortEntry &entry : ports)
        names.append(entry.name);
    const QList<PortIdentity> identities = PortIdentity::of(names);
    QStringList bySerialNumber;
    for (int i = 0; i < ports.size(); ++i) {
        const SerialPortEntry &entry = ports.at(i);
        const QString serialNumber = identities.value(i).serialNumber;
        if (serialNumber.isEmpty()) {
            portListBox->addItem(QStringLiteral("%1 %2").arg(entry.name, entry.description));
            continue;
        }
        portListBox->addItem(
            QStringLiteral("%1 %2 serial=%3").arg(entry.name, entry.description, serialNumber));
        bySerialNumber.append(QStringLiteral("serial:%1 %2").arg(serialNumber, entry.description));
    }
    portListBox->addItems(bySerialNumber);
}

void mySerialPort::reopenPort()
{
    if (serialChannel.isPortOpen()) {
        serialChannel.setPortClosedByUser(true);
        serialChannel.closePort();
    }
    serialChannel.openPort();
    serialChannel.setPortClosedByUser(false);
}

void mySerialPort::showOpenState(bool open)
{
    indicator->setStyleSheet(QLatin1String(open ? indicatorGreen : indicatorRed));
}

void mySerialPort::onPortListPressed()
{
    TRACE(lcSerial) << "comboBox_serialport clicked";
    portListRefreshing = true;
    const QString selected = portListBox->currentText();
    portListBox->clear();
    fillPortList();
    const int index = portListBox->findText(selected);
    if (index >= 0)
        portListBox->setCurrentIndex(index);
    portListRefreshing = false;
}

void mySerialPort::onPortSelected(int index)
{
    if (portListRefreshing) {
        TRACE(lcSerial) << "comboBox_serialport currentIndexChange auto" << index;
        return;
    }
    if (!choosePortOfItem(portListBox->currentText()))
        return;
    reopenPort();
    TRACE(lcSerial) << "comboBox_serialport currentIndexChange" << index
                    << (serialChannel.isPortOpen() ? "true" : "false");
}

void mySerialPort::onBaudRateSelected(int index)
{
    TRACE(lcSerial) << "comboBox_baut currentIndexChange" << index;
    serialChannel.setBaudRate(baudBox->currentText().toInt(nullptr, 10));
    reopenPort();
}

void mySerialPort::onOpenPressed()
{
    TRACE(lcSerial) << "pushButton_openport clicked";
    serialChannel.setPortClosedByUser(false);
    // A serial number is looked up again: its adapter may have been re-plugged since it was picked.
    if (!serialChannel.isPortOpen() && !choosePortOfItem(portListBox->currentText()))
        return;
    if (!serialChannel.openPort()) {
        TRACE(lcSerial) << serialChannel.lastOpenError();
        return;
    }
    settings->setValue(SettingsKeys::serialCom, portListBox->currentText());
    settings->setValue(SettingsKeys::serialBaudrate, baudBox->currentText());
    QString why;
    if (!ConfigIni::sync(settings, &why))
        emit settingsNotSaved(why);
}

void mySerialPort::onClosePressed()
{
    TRACE(lcSerial) << "pushButton_closeport clicked";
    serialChannel.closePort();
    serialChannel.setPortClosedByUser(true);
}
