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

const QLatin1String kSerialNumberPrefix("serial:");

struct SerialNumberHolder
{
    QString name;
    QString path;
};

// Every port carrying `serialNumber`, each device once: the system's adapters, then the virtual
// ports PLOVIKKIT_EXTRA_PORTS gives one.
QList<SerialNumberHolder> holdersOf(const QString &serialNumber, const QList<QSerialPortInfo> &system)
{
    QList<SerialNumberHolder> holders;
    QStringList devices;
    const auto take = [&](const QString &name, const QString &path) {
        const QString device = canonicalDevice(path);
        if (devices.contains(device))
            return;
        devices.append(device);
        holders.append({name, path});
    };
    for (const QSerialPortInfo &info : system) {
        if (info.serialNumber() == serialNumber)
            take(info.portName(), info.systemLocation());
    }
    for (const QString &path : SerialPortList::extraPortPaths()) {
        if (SerialPortList::extraPortSerial(path) == serialNumber)
            take(path, path);
    }
    return holders;
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

bool PortIdentity::namesSerialNumber(const QString &portName)
{
    return portName.startsWith(kSerialNumberPrefix);
}

bool PortIdentity::resolve(const QString &portName, QString *path, QString *problem)
{
    if (!namesSerialNumber(portName)) {
        *path = portName;
        return true;
    }
    return resolveIn(portName, QSerialPortInfo::availablePorts(), path, problem);
}

bool PortIdentity::resolveIn(const QString &portName, const QList<QSerialPortInfo> &system, QString *path,
                             QString *problem)
{
    const QString serialNumber = portName.mid(kSerialNumberPrefix.size());
    if (serialNumber.isEmpty()) {
        *problem = QStringLiteral("\"%1\" names no serial number").arg(portName);
        return false;
    }
    const QList<SerialNumberHolder> holders = holdersOf(serialNumber, system);
    if (holders.size() == 1) {
        *path = holders.first().path;
        return true;
    }
    if (holders.isEmpty()) {
        *problem = QStringLiteral("no adapter with serial number %1").arg(serialNumber);
        return false;
    }
    QStringList names;
    for (const SerialNumberHolder &holder : holders)
        names.append(holder.name);
    *problem = QStringLiteral("%1 adapters with serial number %2: %3")
                   .arg(holders.size() == 2 ? QStringLiteral("two") : QString::number(holders.size()),
                        serialNumber, names.join(QLatin1String(", ")));
    return false;
}

PortIdentity PortIdentity::identityOf(const QString &portName, const QList<QSerialPortInfo> &system)
{
    PortIdentity identity;
    if (namesSerialNumber(portName)) {
        QString path;
        QString problem;
        if (resolveIn(portName, system, &path, &problem))
            return identityOf(path, system);
        // Whatever holds it now, the adapter asked for is known by this much.
        identity.serialNumber = portName.mid(kSerialNumberPrefix.size());
        return identity;
    }
    identity.serialNumber = SerialPortList::extraPortSerial(portName);
    if (!identity.serialNumber.isEmpty())
        return identity;
    takeSystemFacts(portName, system, &identity);
#ifdef Q_OS_UNIX
    identity.byIdPath = byIdPathOf(canonicalDevice(portName));
#endif
    return identity;
}
