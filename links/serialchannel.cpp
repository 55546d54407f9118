#include "serialchannel.h"

#include "deviceaccess.h"

#include "eventwait.h"
#include "serialportlist.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTime>

namespace {

// The worker checks the port list every this many ticks, and the closed port every 51st.
constexpr int presenceScanTicks = 99;
constexpr int closeCheckTicks = 49;
constexpr int writeWaitForLengthMs = 1000;

QString timeNow()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

void traceTransfer(const char *tail)
{
    qDebug() << "mySerialPort" << timeNow() << tail;
}

} // namespace

SerialChannel::SerialChannel(QObject *parent) : QThread(parent), serialPort(new QSerialPort(this))
{
    configureLineSettings();
    baudRateMirror = serialPort->baudRate();
    connect(serialPort, SIGNAL(readyRead()), this, SLOT(uartPortCallBack()));
    connect(serialPort, &QSerialPort::baudRateChanged, this,
            [this] { baudRateMirror = serialPort->baudRate(); });
    // A close that bypasses closePort() must still reach the worker's view of the port.
    connect(serialPort, &QIODevice::aboutToClose, this, [this] { openState = false; });
    connect(serialPort, &QSerialPort::errorOccurred, this, &SerialChannel::onPortError);
    connect(this, &SerialChannel::threadCallBack, this, &SerialChannel::onPortStateSignal,
            Qt::QueuedConnection);
}

SerialChannel::~SerialChannel()
{
    stopWorker();
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
    QMutexLocker lock(&nameLock);
    selectedName = name;
}

QString SerialChannel::selectedPortName() const
{
    QMutexLocker lock(&nameLock);
    return selectedName;
}

void SerialChannel::setBaudRate(qint32 baudRate)
{
    serialPort->setBaudRate(baudRate);
    baudRateMirror = serialPort->baudRate();
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
    if (!serialPort->open(QIODevice::ReadWrite)) {
        openError = describeOpenFailure();
        return false;
    }
    {
        QMutexLocker lock(&nameLock);
        openedName = portLocation();
    }
    lossPending = false;
    openState = true;
    return true;
}

QString SerialChannel::describeOpenFailure() const
{
    const QString location = portLocation();
    QString text = QStringLiteral("cannot open serial port %1: %2").arg(location, serialPort->errorString());
    // Qt folds "busy" into the same error code, so ask the file system who is at fault.
    if (serialPort->error() == QSerialPort::PermissionError && DeviceAccess::lacksReadWritePermission(location))
        text += QStringLiteral(" (the user must be in the 'dialout' group to use serial ports)");
    return text;
}

void SerialChannel::closePort()
{
    openState = false;
    if (serialPort->isOpen())
        serialPort->close();
}

void SerialChannel::startWorker()
{
    if (isRunning())
        return;
    stopRequested = false;
    start();
}

void SerialChannel::stopWorker()
{
    stopRequested = true;
    if (isRunning())
        wait();
}

void SerialChannel::onPortStateSignal(int status)
{
    if (status == 0) {
        const QString name = selectedPortName();
        if (!name.isEmpty())
            serialPort->setPortName(name);
    } else if (status == 1 && serialPort->isOpen()) {
        reportLoss(QStringLiteral("serial port %1 is no longer listed").arg(portLocation()));
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
    QMetaObject::invokeMethod(
        this,
        [this, reason] {
            if (serialPort->isOpen())
                reportLoss(reason);
        },
        Qt::QueuedConnection);
}

void SerialChannel::reportLoss(const QString &reason)
{
    qDebug() << "mySerialPort" << timeNow() << reason;
    closePort();
    emit portLost(reason);
}

void SerialChannel::uartPortCallBack()
{
    if (!serialPort)
        return;
    const QByteArray arrived = serialPort->readAll();
    if (arrived.isEmpty())
        return;
    int count = 0;
    {
        QMutexLocker lock(&bufferLock);
        uartRecvArray.append(arrived);
        count = uartRecvArray.size();
    }
    qDebug() << "uartRecvArray no empty:" << count << arrived.toHex(' ');
}

void SerialChannel::write(const char *data)
{
    if (!serialPort->isOpen()) {
        emitClosedPortError();
        return;
    }
    const qint64 len = qstrlen(data);
    const qint32 baud = serialPort->baudRate();
    // The time the bytes need on the line at 10 bits per character.
    const int waitMs = baud > 0 ? int(((1000000 / baud) * 10 * len) / 1000) : writeWaitForLengthMs;
    writeBytes(data, len, waitMs);
}

void SerialChannel::write(const char *data, qlonglong len)
{
    if (!serialPort->isOpen()) {
        emitClosedPortError();
        return;
    }
    writeBytes(data, len, writeWaitForLengthMs);
}

void SerialChannel::writeBytes(const char *data, qint64 len, int waitMs)
{
    traceTransfer("------------");
    if (data && len > 0)
        serialPort->write(data, len);
    serialPort->waitForBytesWritten(waitMs);
    traceTransfer("------------");
}

bool SerialChannel::readWait(int timeout_ms)
{
    if (!serialPort->isOpen()) {
        emitClosedPortError();
        return false;
    }
    // The port's readyRead is emitted inside the wait, so the bytes land in uartRecvArray.
    // The port would take a negative time-out as "wait for ever" and freeze the window.
    return serialPort->waitForReadyRead(qMax(0, timeout_ms));
}

QByteArray SerialChannel::getRecv(int timeout_ms)
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    clearFrame();
    if (!serialPort->isOpen()) {
        emitClosedPortError();
        EventWait::delayMs(int(timeout_ms - stopwatch.elapsed()));
        return frameCopy();
    }
    stopwatch.restart();
    traceTransfer("------------");
    const auto frameArrived = [this] {
        QMutexLocker lock(&bufferLock);
        return !uartFrameArray.isEmpty();
    };
    if (EventWait::waitUntil(frameArrived, timeout_ms))
        return frameCopy();
    traceTransfer("time out------------");
    return frameCopy();
}

void SerialChannel::emitClosedPortError()
{
    emit callBack(SPOS_SERIALPORT_ERROR_WRITE, recvCopy());
}

QByteArray SerialChannel::recvCopy() const
{
    QMutexLocker lock(&bufferLock);
    return uartRecvArray;
}

QByteArray SerialChannel::frameCopy() const
{
    QMutexLocker lock(&bufferLock);
    return uartFrameArray;
}

void SerialChannel::clearFrame()
{
    QMutexLocker lock(&bufferLock);
    uartFrameArray.clear();
}

void SerialChannel::run()
{
    LoopState state;
    state.wasOpen = openState.load();
    while (!stopRequested.load()) {
        QThread::msleep(1);
        cutFrame(state);
        scanPresence(state);
        checkClosedPort(state);
        reportOpenState(state);
    }
}

int SerialChannel::silenceThreshold(qint32 baudRate)
{
    if (baudRate <= 0)
        return 1;
    // 70 characters of 8 bits.
    const int ticks = int(1000.0 / baudRate * 8 * 70);
    return ticks == 0 ? 1 : ticks;
}

void SerialChannel::cutFrame(LoopState &state)
{
    QByteArray handedOver;
    quint32 seen = state.lastRecvLength;
    const qint32 baud = baudRateMirror.load();
    const int threshold = silenceThreshold(baud);
    {
        QMutexLocker lock(&bufferLock);
        quint32 now = quint32(uartRecvArray.size());
        if (seen != 0 && seen == now) {
            if (state.idleTicks > threshold) {
                uartFrameArray = uartRecvArray;
                uartRecvArray.clear();
                handedOver = uartFrameArray;
                state.idleTicks = 0;
                now = 0;
            } else {
                ++state.idleTicks;
            }
        } else {
            state.idleTicks = 0;
        }
        state.lastRecvLength = now;
    }
    if (handedOver.isEmpty())
        return;
    const double fiftyCharsMs = baud > 0 ? 1000.0 / baud * 8 * 50 : 0.0;
    qDebug() << threshold << baud << fiftyCharsMs << "run uartRecvArray:" << seen << handedOver.toHex(' ');
    // Wakes a getRecv that sleeps in the channel thread's event dispatcher.
    QMetaObject::invokeMethod(
        this, [] {}, Qt::QueuedConnection);
}

QString SerialChannel::nameToWatch() const
{
    QMutexLocker lock(&nameLock);
    return selectedName.isEmpty() ? openedName : selectedName;
}

void SerialChannel::scanPresence(LoopState &state)
{
    if (++state.presenceTicks <= presenceScanTicks)
        return;
    state.presenceTicks = 0;
    state.portPresent = SerialPortList::isListed(nameToWatch());
    if (!state.portPresent && openState.load())
        emit threadCallBack(1);
}

void SerialChannel::checkClosedPort(LoopState &state)
{
    if (!state.portPresent)
        return;
    if (state.closeCheckTicks > closeCheckTicks) {
        state.closeCheckTicks = 0;
        if (!openState.load() && !closedByUser.load())
            emit threadCallBack(0);
    } else {
        ++state.closeCheckTicks;
    }
}

void SerialChannel::reportOpenState(LoopState &state)
{
    const bool openNow = openState.load();
    if (openNow != state.wasOpen)
        emit portOpenChanged(openNow);
    state.wasOpen = openNow;
}
