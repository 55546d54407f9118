#include "serial/serialchannel.h"

#include "platform/deviceaccess.h"
#include "platform/serialportlist.h"

#include "core/debugtrace.h"
#include "protocol/wiretiming.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTime>

namespace {

QString timeNow()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

} // namespace

SerialChannel::SerialChannel(QObject *parent) : QObject(parent), serialPort(new QSerialPort(this))
{
    configureLineSettings();
    cutter.setBaudRate(serialPort->baudRate());
    cutter.setWaitingBytesReader([this] { return readWaitingBytes(); });
    lineClock.start();
    connect(serialPort, &QSerialPort::readyRead, this, &SerialChannel::readArrivedBytes);
    connect(&cutter, &ReplyCutter::replyQueued, this, &SerialChannel::replyQueued);
    connect(serialPort, &QSerialPort::baudRateChanged, this, [this] {
        cutter.setBaudRate(serialPort->baudRate());
        emit baudRateChanged(serialPort->baudRate());
    });
    // A close that bypasses closePort() must still reach the indicator.
    connect(serialPort, &QIODevice::aboutToClose, this, &SerialChannel::announceOpenState,
            Qt::QueuedConnection);
    connect(serialPort, &QSerialPort::errorOccurred, this, &SerialChannel::onPortError);
    connect(this, &SerialChannel::threadCallBack, this, &SerialChannel::onPortStateSignal,
            Qt::QueuedConnection);
    connect(&presence, &PortPresence::changed, this, &SerialChannel::onPresenceChanged);
}

SerialChannel::~SerialChannel() = default;

QString SerialChannel::baudRateProblem(qint32 baudRate)
{
    if (baudRate >= kMinimumBaudRate)
        return QString();
    return QStringLiteral("baud rate %1 is not supported: below %2 baud the bootloader's replies do not "
                          "fit the update's waits")
        .arg(baudRate)
        .arg(kMinimumBaudRate);
}

void SerialChannel::configureLineSettings()
{
    serialPort->setDataBits(QSerialPort::Data8);
    serialPort->setParity(QSerialPort::NoParity);
    serialPort->setStopBits(QSerialPort::OneStop);
    serialPort->setFlowControl(QSerialPort::NoFlowControl);
}

void SerialChannel::setSelectedPortName(const QString &name)
{
    selectedName = name;
    watchPresence();
}

void SerialChannel::watchPresence()
{
    if (presence.watchedName() != nameToWatch())
        presence.watch(nameToWatch());
}

void SerialChannel::setBaudRate(qint32 baudRate)
{
    // The cutter learns the rate from the port's baudRateChanged.
    serialPort->setBaudRate(baudRate);
}

QString SerialChannel::portLocation() const
{
    const QString name = serialPort->portName();
    if (name.isEmpty() || QDir::isAbsolutePath(name))
        return name;
    return QStringLiteral("/dev/") + name;
}

bool SerialChannel::openPort()
{
    if (serialPort->isOpen())
        return true;
    openError.clear();
    lossReason.clear();
    errorKind = PortError::NoError;
    const QString rateProblem = baudRateProblem(serialPort->baudRate());
    if (!rateProblem.isEmpty()) {
        errorKind = PortError::RateNotSupported;
        openError = QStringLiteral("cannot open serial port %1: %2").arg(portLocation(), rateProblem);
    } else if (!openDevice()) {
        openError = describeOpenFailure();
    }
    if (!openError.isEmpty()) {
        emit openFailed(openError);
        return false;
    }
    openedName = portLocation();
    watchPresence();
    lossPending = false;
    ++openings;
    lineFreeAtMs = 0;
    cutter.discardReceived(QStringLiteral("before the port was opened"));
    announceOpenState();
    return true;
}

// The port is locked by its device, not by the name it was chosen by: a symlink and the device
// path it points to are one port, and two programs must never write to it at once.
bool SerialChannel::openDevice()
{
    const QString chosenName = serialPort->portName();
    const QString device = QFileInfo(portLocation()).canonicalFilePath();
    if (!device.isEmpty())
        serialPort->setPortName(device);
    const bool opened = serialPort->open(QIODevice::ReadWrite);
    serialPort->setPortName(chosenName);
    if (opened)
        DeviceAccess::claimExclusively(serialPort->handle());
    return opened;
}

QString SerialChannel::describeOpenFailure()
{
    const QString location = portLocation();
    if (location.isEmpty()) {
        errorKind = PortError::NoPortChosen;
        return QStringLiteral("no serial port chosen");
    }
    // Qt folds "busy" and "locked" into the permission error, so ask the file system who is at fault.
    if (serialPort->error() == QSerialPort::PermissionError) {
        if (DeviceAccess::lacksReadWritePermission(location)) {
            errorKind = PortError::PermissionDenied;
            return QStringLiteral(
                       "cannot open serial port %1: %2 (the user must be in the 'dialout' group to "
                       "use serial ports)")
                .arg(location, serialPort->errorString());
        }
        if (QFileInfo::exists(location)) {
            errorKind = PortError::InUse;
            return QStringLiteral("cannot open serial port %1: it is in use by another program")
                .arg(location);
        }
    }
    errorKind = PortError::OpenFailed;
    return QStringLiteral("cannot open serial port %1: %2").arg(location, serialPort->errorString());
}

void SerialChannel::closePort()
{
    openError.clear();
    if (serialPort->isOpen())
        serialPort->close();
    announceOpenState();
}

QString SerialChannel::unavailableReason() const
{
    if (serialPort->isOpen())
        return QString();
    if (!lossReason.isEmpty())
        return lossReason;
    if (!openError.isEmpty())
        return openError;
    if (serialPort->portName().isEmpty())
        return QStringLiteral("no serial port chosen");
    return QStringLiteral("serial port %1 is not open").arg(portLocation());
}

void SerialChannel::announceOpenState()
{
    if (serialPort->isOpen() == shownOpen)
        return;
    shownOpen = serialPort->isOpen();
    emit portOpenChanged(shownOpen);
}

void SerialChannel::onPortStateSignal(int status)
{
    if (status == 0) {
        if (!selectedName.isEmpty())
            serialPort->setPortName(selectedName);
    } else if (status == 1 && serialPort->isOpen() && !presence.isPresent()) {
        reportLoss(QStringLiteral("serial port %1 lost: its device is gone").arg(portLocation()));
    }
}

void SerialChannel::onPortError(QSerialPort::SerialPortError error)
{
    // A vanished device shows up as a resource error (adapter unplugged) or as a read error
    // that repeats on every notifier wake-up (pty whose other end closed). Either way the
    // port is closed once; closing inside the port's own error signal is not safe, so it is
    // deferred, and the repeats until then are ignored.
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError)
        return;
    if (!serialPort->isOpen() || lossPending)
        return;
    lossPending = true;
    // errno is stale after a read of 0 bytes from a hung-up line, so errorString() would mislead.
    const QString cause = error == QSerialPort::ResourceError
                              ? QStringLiteral("the device was removed or became unavailable")
                              : QStringLiteral("the line was hung up");
    const QString reason = QStringLiteral("serial port %1 lost: %2").arg(portLocation(), cause);
    // A port closed and opened again (another device on it) before this runs is not the one lost.
    QMetaObject::invokeMethod(
        this,
        [this, reason, opening = openings] {
            if (serialPort->isOpen() && openings == opening)
                reportLoss(reason);
        },
        Qt::QueuedConnection);
}

void SerialChannel::reportLoss(const QString &reason)
{
    TRACE(lcSerial) << "mySerialPort" << timeNow() << reason;
    closePort();
    lossReason = reason;
    errorKind = PortError::Lost;
    emit portLost(reason);
}

QString SerialChannel::nameToWatch() const
{
    return selectedName.isEmpty() ? openedName : selectedName;
}

void SerialChannel::onPresenceChanged(bool present)
{
    if (!present && serialPort->isOpen())
        emit threadCallBack(PortGoneWhileOpen);
    else if (present && !serialPort->isOpen() && !closedByUser)
        emit threadCallBack(PortBackAndClosed);
}

void SerialChannel::readArrivedBytes()
{
    const QByteArray arrived = serialPort->readAll();
    if (arrived.isEmpty())
        return;
    bytesArrived += quint64(arrived.size());
    TRACE(lcSerial) << "uartRecvArray no empty:" << arrived.size() << arrived.toHex(' ');
    cutter.feed(arrived);
    emit bytesReceived();
}

bool SerialChannel::readWaitingBytes()
{
    if (!serialPort->isOpen() || !DeviceAccess::hasUnreadInput(serialPort->handle()))
        return false;
    const quint64 before = bytesArrived;
    serialPort->waitForReadyRead(0);
    return bytesArrived != before;
}

// The port writes on its own from the event loop; only the line's time is noted.
bool SerialChannel::send(const QByteArray &bytes)
{
    if (!serialPort->isOpen()) {
        emit sendRefused(cutter.untakenBytes());
        return false;
    }
    discardReceived(QStringLiteral("before a frame was written"));
    if (!bytes.isEmpty()) {
        serialPort->write(bytes);
        noteLineBusy(bytes.size());
    }
    return true;
}

void SerialChannel::noteLineBusy(qint64 bytes)
{
    const qint64 wireMs = WireTiming::lineMs(bytes, serialPort->baudRate());
    lineFreeAtMs = qMax(lineFreeAtMs, lineClock.elapsed()) + wireMs;
}

qint64 SerialChannel::msUntilLineFree() const
{
    return qMax<qint64>(0, lineFreeAtMs - lineClock.elapsed());
}

void SerialChannel::discardReceived(const QString &why)
{
    cutter.discardReceived(why);
}
