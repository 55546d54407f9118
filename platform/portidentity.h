#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QSerialPortInfo;

// Who a serial port is beyond its name, which the system may hand to another adapter after a
// replug: the USB adapter's serial number, its vendor:product id and its /dev/serial/by-id path,
// each where the system knows it (empty elsewhere). A virtual port of PLOVIKKIT_EXTRA_PORTS
// carries the serial number given there.
struct PortIdentity
{
    QString serialNumber;
    QString usbId; // "vvvv:pppp", lower-case hexadecimal
    QString byIdPath;

    static PortIdentity of(const QString &portName);
    // Of several ports, asking the system for its list once.
    static QList<PortIdentity> of(const QStringList &portNames);

private:
    static PortIdentity identityOf(const QString &portName, const QList<QSerialPortInfo> &system);
};
