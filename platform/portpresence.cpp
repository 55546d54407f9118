#include "platform/portpresence.h"

#include "platform/serialportlist.h"

#include <QFileInfo>

PortPresence::PortPresence(QObject *parent) : QObject(parent)
{
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, &PortPresence::recheck);
    connect(&watcher, &QFileSystemWatcher::fileChanged, this, &PortPresence::recheck);
    connect(&scanTimer, &QTimer::timeout, this, &PortPresence::recheck);
}

void PortPresence::watch(const QString &portName)
{
    name = portName;
    present = SerialPortList::isPresent(name);
    watchFolders();
    emit changed(present);
}

// The device's folder tells of a device node that comes or goes; for a link (a simulator's pty
// named by a symlink) the folder of what it points to as well, since the link itself stays.
void PortPresence::watchFolders()
{
    if (!watcher.files().isEmpty())
        watcher.removePaths(watcher.files());
    if (!watcher.directories().isEmpty())
        watcher.removePaths(watcher.directories());
    scanTimer.stop();
    const QString location = SerialPortList::devicePath(name);
    if (location.isEmpty())
        return;
    QStringList paths{QFileInfo(location).absolutePath()};
    const QFileInfo device(location);
    if (device.isSymLink())
        paths << QFileInfo(device.symLinkTarget()).absolutePath();
    if (device.exists())
        paths << location;
    paths.removeDuplicates();
    const QStringList refused = watcher.addPaths(paths);
    // Without file notices (or a folder that cannot be watched) the look is taken on a clock.
    if (!refused.isEmpty() || watcher.directories().isEmpty())
        scanTimer.start(kScanMs);
}

void PortPresence::recheck()
{
    const bool nowPresent = SerialPortList::isPresent(name);
    // A device file that went is no longer watched; one that came back must be watched again.
    if (nowPresent != present)
        watchFolders();
    if (nowPresent == present)
        return;
    present = nowPresent;
    emit changed(present);
}
