#pragma once

#include "tools/devsim/devicetransport.h"
#include "tools/devsim/nanotimer.h"
#include "tools/devsim/receiveline.h"

#include <QElapsedTimer>
#include <QTimer>

class QSocketNotifier;

// The device's end of a pseudo terminal. The tool opens the slave like a serial port;
// the device reads and writes the master. Both directions can be paced at a line rate so
// that frames and replies take as long as on a real UART.
class PtyTransport : public DeviceTransport
{
    Q_OBJECT
public:
    explicit PtyTransport(QObject *parent = nullptr);
    ~PtyTransport() override;

    bool open(QString *error);
    QString slavePath() const { return slaveFilePath; }
    // 0: bytes pass at once; otherwise 10 bits a byte at this rate, both ways.
    void setBaudRate(int baudRate);

    void write(const QByteArray &bytes) override;

private:
    void readMaster();
    void waitAfterHangup();
    void flushPending();
    void discardStaleOutput();
    qint64 pacedBudget() const;
    qint64 paceNowNs() const;
    qint64 nsUntilNextWrite() const;

    int masterFd = -1;
    // Held open so that the master does not see a hangup while no tool has the port open.
    int slaveKeeper = -1;
    QString slaveFilePath;
    QSocketNotifier *readNotifier = nullptr;
    QTimer hangupTimer;
    NanoTimer writeTimer;
    ReceiveLine receiveLine;
    QByteArray pendingBytes;
    int lineRate = 0;
    QElapsedTimer paceClock;
    qint64 pacedBytes = 0;
    // The pace clock runs this far behind the line: a device answers the moment the last
    // byte of a frame is in, not when the event loop gets round to handing it over.
    qint64 paceHeadStartNs = 0;
    QElapsedTimer lastWrite;
};
