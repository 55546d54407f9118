#pragma once

#include <QByteArray>
#include <QMutex>
#include <QSerialPort>
#include <QString>
#include <QThread>
#include <atomic>

// The one serial port of the tool, without any widget: the blocking interface the update
// engine uses (write, wait for bytes, wait for one received frame) and the worker loop
// that cuts received bytes into frames by silence and watches the selected port.
//
// The port object belongs to the thread that created the channel (the GUI thread in the
// window). The worker thread only measures, copies and empties the receive buffers under
// one lock, reads a copy of the selected port name and mirrors of the open state and baud
// rate, and reports through queued signals.
class SerialChannel : public QThread
{
    Q_OBJECT
public:
    // Status of `callBack`: a write or wait was requested while the port is closed.
    static constexpr int SPOS_SERIALPORT_ERROR_WRITE = 7;

    explicit SerialChannel(QObject *parent = nullptr);
    // Stops and joins the worker before anything is torn down.
    ~SerialChannel() override;

    QSerialPort *port() { return serialPort; }
    // The device path of the port's current name (QSerialPortInfo does not know ptys).
    QString portLocation() const;

    // The name the worker checks for presence; kept up to date by whoever chooses the port.
    // While it is empty, the device path of the opened port is checked instead. A name that
    // is a device path counts as present while the path exists.
    void setSelectedPortName(const QString &name);
    QString selectedPortName() const;

    // Sets the rate for both directions; also applied at once to an open port.
    void setBaudRate(qint32 baudRate);

    // Opens the port read-write with its current name and baud rate and the fixed line
    // settings; the error text of a failed open is in lastOpenError(). Open the port
    // through here (not through port()) so that the worker sees its state.
    bool openPort();
    void closePort();
    bool isPortOpen() const { return openState.load(); }
    QString lastOpenError() const { return openError; }

    // Starts the worker loop; stopWorker() asks it to leave and waits for it.
    void startWorker();
    void stopWorker();

    bool portClosedByUser() const { return closedByUser; }
    void setPortClosedByUser(bool closed) { closedByUser = closed; }

public slots:
    void uartPortCallBack();
    void write(const char *data);
    void write(const char *data, qlonglong len);
    bool readWait(int timeout_ms);
    QByteArray getRecv(int timeout_ms);

signals:
    void callBack(int status, QByteArray bytesArray);
    // 0: the selected port is listed, closed, and not closed by the user; 1: it vanished while open.
    void threadCallBack(int status);
    // The port opened or closed (delivered on the channel's own thread): drives the indicator.
    void portOpenChanged(bool open);
    // The port was lost while open (adapter unplugged, pty gone): emitted once per loss.
    void portLost(QString reason);

protected:
    void run() override;

private:
    struct LoopState
    {
        quint32 lastRecvLength = 0;
        bool portPresent = false;
        bool wasOpen = false;
        int presenceTicks = 0;
        int closeCheckTicks = 0;
        int idleTicks = 0;
    };

    void configureLineSettings();
    void onPortStateSignal(int status);
    void onPortError(QSerialPort::SerialPortError error);
    void reportLoss(const QString &reason);
    QString describeOpenFailure() const;
    void writeBytes(const char *data, qint64 len, int waitMs);
    void emitClosedPortError();
    QByteArray recvCopy() const;
    QByteArray frameCopy() const;
    void clearFrame();

    // Worker-thread steps of one tick.
    void cutFrame(LoopState &state);
    void scanPresence(LoopState &state);
    void checkClosedPort(LoopState &state);
    void reportOpenState(LoopState &state);
    QString nameToWatch() const;
    static int silenceThreshold(qint32 baudRate);

    QSerialPort *serialPort = nullptr;
    QString openError;
    std::atomic<bool> closedByUser{false};

    // Guards uartRecvArray and uartFrameArray: each access is one locked step.
    mutable QMutex bufferLock;
    QByteArray uartRecvArray;
    QByteArray uartFrameArray;

    mutable QMutex nameLock;
    QString selectedName;
    QString openedName;

    std::atomic<bool> openState{false};
    std::atomic<qint32> baudRateMirror{0};
    std::atomic<bool> stopRequested{false};
    bool lossPending = false;
};
