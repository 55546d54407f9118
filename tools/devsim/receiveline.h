#pragma once

#include "tools/devsim/nanotimer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

// The device's receive side of a serial line. A pty hands over whatever the tool writes at
// once; a UART at a given rate needs 10 bits a byte, and a byte written while the line is
// still busy waits behind the ones before it. Bytes come out of arrived() only once they
// would have finished arriving, so the device cannot answer a frame sooner than a real one.
class ReceiveLine : public QObject
{
    Q_OBJECT
public:
    explicit ReceiveLine(QObject *parent = nullptr);

    // 0: bytes arrive as soon as they are pushed; otherwise 10 bits a byte at this rate.
    void setBaudRate(int baudRate) { lineRate = baudRate; }
    int baudRate() const { return lineRate; }

    // Bytes the tool has just written to the line.
    void push(const QByteArray &bytes);
    // Bytes written but still travelling.
    int bytesOnLine() const { return onLine.size(); }
    // While arrived() is being emitted: how long ago its last byte finished arriving (the
    // event loop wakes a little after that moment).
    qint64 releaseLatenessNs() const { return latenessNs; }

signals:
    void arrived(const QByteArray &bytes);

private:
    void releaseArrived();
    void scheduleNextArrival();
    // Line time of this many bytes, rounded up so that no byte ever arrives early.
    qint64 lineTimeNs(qint64 byteCount) const;
    qint64 bytesArrivedBy(qint64 nowNs) const;

    int lineRate = 0;
    QElapsedTimer clock;
    NanoTimer arrivalTimer;
    QByteArray onLine;
    // When the last released byte finished arriving: the next byte on the line starts then.
    qint64 lineFreeNs = 0;
    qint64 latenessNs = 0;
};
