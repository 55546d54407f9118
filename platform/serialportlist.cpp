#include "platform/serialportlist.h"

#include "core/debugtrace.h"
#include "platform/deviceaccess.h"

#include <QFileInfo>
#include <QSerialPortInfo>

namespace SerialPortList {

// Only what can be a serial line: a directory or a regular file named by mistake is no port.
QStringList extraPortPaths()
{
    const QString value = qEnvironmentVariable("PLOVIKKIT_EXTRA_PORTS");
    QStringList paths;
    for (const QString &entry : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString path = entry.section(QLatin1Char('='), 0, 0);
        if (paths.contains(path))
            continue;
        if (!QFileInfo::exists(path))
            TRACE(lcSerial).noquote() << "PLOVIKKIT_EXTRA_PORTS: skipped" << path << "(it does not exist)";
        else if (!DeviceAccess::isCharacterDevice(path))
            TRACE(lcSerial).noquote()
                << "PLOVIKKIT_EXTRA_PORTS: skipped" << path << "(not a character device)";
        else
            paths.append(path);
    }
    return paths;
}

QString extraPortSerial(const QString &path)
{
    const QString value = qEnvironmentVariable("PLOVIKKIT_EXTRA_PORTS");
    for (const QString &entry : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (entry.section(QLatin1Char('='), 0, 0) == path)
            return entry.section(QLatin1Char('='), 1);
    }
    return QString();
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

QString devicePath(const QString &portName)
{
#ifdef Q_OS_UNIX
    if (portName.isEmpty() || QFileInfo(portName).isAbsolute())
        return portName;
    return QStringLiteral("/dev/") + portName;
#else
    Q_UNUSED(portName)
    return QString();
#endif
}

bool isPresent(const QString &portName)
{
    if (portName.isEmpty())
        return false;
#ifdef Q_OS_UNIX
    return QFileInfo::exists(devicePath(portName));
#else
    return isListed(portName);
#endif
}

} // namespace SerialPortList
