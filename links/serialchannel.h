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
// one lock, reads a copy of the selected port name, and reports through queued signals.
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

    // The name the worker checks for presence; kept up to date by whoever chooses the port.
    void setSelectedPortName(const QString &name);
    QString selectedPortName() const;

    // Opens the port read-write with its current name and baud rate and the fixed line
    // settings; the error text of a failed open is in lastOpenError().
    bool openPort();
    void closePort();
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
    // ...
private:
    QSerialPort *serialPort = nullptr;
    QString openError;
    std::atomic<bool> closedByUser{false};
};
