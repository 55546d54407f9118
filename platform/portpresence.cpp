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
    if (name.isEmpty())
        return;
    const QString location = SerialPortList::devicePath(name);
    const QFileInfo device(location);
    QStringList paths;
    if (!location.isEmpty()) {
        paths << device.absolutePath();
        if (device.isSymLink())
            paths << QFileInfo(device.symLinkTarget()).absolutePath();
        if (device.exists())
            paths << location;
        paths.removeDuplicates();
    }
    // Without file notices (ports that are no files, a folder that cannot be watched) the look is
    // taken on a clock.
    const QStringList refused = paths.isEmpty() ? QStringList() : watcher.addPaths(paths);
    if (!refused.isEmpty() || watcher.directories().isEmpty())
        scanTimer.start(kScanMs);
}

void PortPresence::recheck()
{
    const bool nowPresent = SerialPortList::isPresent(name);
    if (nowPresent == present)
        return;
    present = nowPresent;
    // A device file that went is no longer watched; one that came back must be watched again.
    watchFolders();
    emit changed(present);
}
