#pragma once

#include "devicetransport.h"
#include "nanotimer.h"
#include "receiveline.h"

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
    QString slavePath() const { return m_slavePath; }
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

    int m_master = -1;
    // Held open so that the master does not see a hangup while no tool has the port open.
    int m_slaveKeeper = -1;
    QString m_slavePath;
    QSocketNotifier *m_readNotifier = nullptr;
    QTimer m_hangupTimer;
    NanoTimer m_writeTimer;
    ReceiveLine m_receiveLine;
    QByteArray m_pending;
    int m_baudRate = 0;
    QElapsedTimer m_paceClock;
    qint64 m_pacedBytes = 0;
    // The pace clock runs this far behind the line: a device answers the moment the last
    // byte of a frame is in, not when the event loop gets round to handing it over.
    qint64 m_paceHeadStartNs = 0;
    QElapsedTimer m_lastWrite;
};
