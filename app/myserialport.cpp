#include "app/myserialport.h"

#include "app/mycombobox.h"
#include "platform/serialportlist.h"
#include "storage/configini.h"
#include "storage/settingskeys.h"

#include "core/debugtrace.h"
#include <QComboBox>

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>

namespace {

const char *const indicatorRed = "background-color:red;border-radius: 10px;";
const char *const indicatorGreen = "background-color:green;border-radius: 10px;";
constexpr int indicatorSize = 20;

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
            [this](const QString &text) { serialChannel.setSelectedPortName(portNameOfItem(text)); });
    connect(&serialChannel, &SerialChannel::portOpenChanged, this, &mySerialPort::showOpenState);
    connect(&serialChannel, &SerialChannel::callBack, this, &mySerialPort::callBack);
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

QHBoxLayout *mySerialPort::getUi()
{
    return panelLayout;
}

void mySerialPort::uartPortCallBack()
{
    serialChannel.uartPortCallBack();
}

void mySerialPort::write(const char *data)
{
    serialChannel.write(data);
}

void mySerialPort::write(const char *data, qlonglong len)
{
    serialChannel.write(data, len);
}

bool mySerialPort::readWait(int timeout_ms)
{
    return serialChannel.readWait(timeout_ms);
}

QByteArray mySerialPort::getRecv(int timeout_ms)
{
    return serialChannel.getRecv(timeout_ms);
}

void mySerialPort::buildPortGroup()
{
    auto *group = new QHBoxLayout;
    group->addWidget(new QLabel(QStringLiteral("串口选择"), this));
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
    group->addWidget(new QLabel(QStringLiteral("波特率"), this));
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
    openButton->setText(QStringLiteral("打开"));
    openButton->setObjectName(QStringLiteral("pushButton_openport"));
    connect(openButton, &QPushButton::clicked, this, &mySerialPort::onOpenPressed);
    panelLayout->addWidget(openButton);

    closeButton->setText(QStringLiteral("关闭"));
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
    serialChannel.port()->setPortName(portNameOfItem(portListBox->currentText()));
}

void mySerialPort::fillPortList()
{
    for (const SerialPortEntry &entry : SerialPortList::availablePorts())
        portListBox->addItem(QStringLiteral("%1 %2").arg(entry.name, entry.description));
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
    const QString name = portNameOfItem(portListBox->currentText());
    // The box reports its new text only after this handler; a presence scan in between must
    // not judge the newly opened port by the old name.
    serialChannel.setSelectedPortName(name);
    serialChannel.port()->setPortName(name);
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
