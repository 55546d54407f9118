#include "serialportlist.h"

#include <QFileInfo>
#include <QSerialPortInfo>

namespace SerialPortList {

QStringList extraPortPaths()
{
    const QString value = qEnvironmentVariable("PLOVIKKIT_EXTRA_PORTS");
    QStringList paths;
    for (const QString &path : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (QFileInfo::exists(path) && !paths.contains(path))
            paths.append(path);
    }
    return paths;
}

QList<SerialPortEntry> availablePorts()
{
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
        ports.append({info.portName(), info.description()});
    for (const QString &path : extraPortPaths())
        ports.append({path, QStringLiteral("virtual port")});
    return ports;
}

bool isListed(const QString &portName)
{
    if (portName.isEmpty())
        return false;
    // A port chosen by its device path (a pty, a symlink) is there while the path is.
    if (QFileInfo(portName).isAbsolute())
        return QFileInfo::exists(portName);
    for (const SerialPortEntry &entry : availablePorts()) {
        if (entry.name == portName)
            return true;
    }
    return false;
}

bool isPresent(const QString &portName)
{
    if (portName.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    if (QFileInfo(portName).isAbsolute())
        return QFileInfo::exists(portName);
    return QFileInfo::exists(QStringLiteral("/dev/") + portName);
#else
    return isListed(portName);
#endif
}

} // namespace SerialPortList
