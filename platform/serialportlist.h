#pragma once

#include <QList>
#include <QString>

// The serial ports offered to the user: the system's list, followed by the device paths
// named in PLOVIKKIT_EXTRA_PORTS (":"-separated: a simulator's pty, a socat symlink; PATH=SN
// gives a path the serial number a USB adapter would have).
// An extra port is listed, and so counts as present, while its path exists; so does any
// port named by an absolute device path.
struct SerialPortEntry
{
    QString name;
    QString description;
};

namespace SerialPortList {

QList<SerialPortEntry> availablePorts();
bool isListed(const QString &portName);
// Whether the port is still there, cheap enough to ask every second: where ports are
// device files, whether its device file exists (listing every port costs thousands of
// system calls); elsewhere, whether the system lists it.
bool isPresent(const QString &portName);
// The device file of a port where ports are device files (/dev/ttyUSB0 for ttyUSB0, a path as
// it is); empty elsewhere.
QString devicePath(const QString &portName);
QStringList extraPortPaths();
// The serial number PLOVIKKIT_EXTRA_PORTS gives `path` (PATH=SN); empty when it gives none.
QString extraPortSerial(const QString &path);

} // namespace SerialPortList
