#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QTimer>

// The radio link between a device and its gateway: everything the device sends arrives a
// fixed time later, in the order sent. With a constant delay the oldest message is always
// the next one due, so one single-shot timer armed for it serves any number in flight.
class RadioHop : public QObject
{
    Q_OBJECT
public:
    explicit RadioHop(int latencyMs, QObject *parent = nullptr);

    void send(const QByteArray &bytes);

signals:
    void delivered(const QByteArray &bytes);

private:
    struct InFlight
    {
        qint64 dueNs;
        QByteArray bytes;
    };

    void deliverDue();
    void armForOldest();

    const qint64 latencyNs;
    QElapsedTimer hopClock;
    QTimer dueTimer;
    QQueue<InFlight> inFlight;
};
