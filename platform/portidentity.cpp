#include "platform/portidentity.h"

#include "platform/serialportlist.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

namespace {

QString canonicalDevice(const QString &portName)
{
    const QString path = SerialPortList::devicePath(portName);
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? path : canonical;
}

QString hex4(quint16 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0'));
}

bool isPort(const QSerialPortInfo &info, const QString &portName)
{
#ifdef Q_OS_UNIX
    return canonicalDevice(info.systemLocation()) == canonicalDevice(portName);
#else
    return info.portName() == portName;
#endif
}

void takeSystemFacts(const QString &portName, const QList<QSerialPortInfo> &system, PortIdentity *identity)
{
    for (const QSerialPortInfo &info : system) {
        if (!isPort(info, portName))
            continue;
        identity->serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier() && info.hasProductIdentifier())
            identity->usbId =
                hex4(info.vendorIdentifier()) + QLatin1Char(':') + hex4(info.productIdentifier());
        return;
    }
}

QString byIdPathOf(const QString &device)
{
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (link.isSymLink() && link.canonicalFilePath() == device)
            return link.absoluteFilePath();
    }
    return QString();
}

} // namespace

PortIdentity PortIdentity::of(const QString &portName)
{
    return of(QStringList{portName}).value(0);
}

QList<PortIdentity> PortIdentity::of(const QStringList &portNames)
{
    QList<PortIdentity> identities;
    if (portNames.isEmpty())
        return identities;
    const QList<QSerialPortInfo> system = QSerialPortInfo::availablePorts();
    for (const QString &portName : portNames)
        identities.append(identityOf(portName, system));
    return identities;
}

PortIdentity PortIdentity::identityOf(const QString &portName, const QList<QSerialPortInfo> &system)
{
    PortIdentity identity;
    identity.serialNumber = SerialPortList::extraPortSerial(portName);
    if (!identity.serialNumber.isEmpty())
        return identity;
    takeSystemFacts(portName, system, &identity);
#ifdef Q_OS_UNIX
    identity.byIdPath = byIdPathOf(canonicalDevice(portName));
#endif
    return identity;
}
