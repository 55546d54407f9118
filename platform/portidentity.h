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

    // A port may be named "serial:SN": the USB-serial adapter with that serial number, whatever
    // tty the system gave it at this plug-in.
    static bool namesSerialNumber(const QString &portName);
    // The port to open for `portName`: a "serial:SN" name becomes the device path of the one
    // adapter with that serial number, any other name stays as it is. False, with `problem`
    // saying so, when no adapter or more than one has it.
    static bool resolve(const QString &portName, QString *path, QString *problem);

private:
    static PortIdentity identityOf(const QString &portName, const QList<QSerialPortInfo> &system);
    static bool resolveIn(const QString &portName, const QList<QSerialPortInfo> &system, QString *path,
                          QString *problem);
};
