#include "station/stationports.h"

#include "platform/serialportlist.h"

#include <QDir>
#include <QFileInfo>

namespace {

// Every path PLOVIKKIT_EXTRA_PORTS names, there or not yet: a virtual port that appears later
// appears in its folder.
QStringList namedExtraPaths()
{
    QStringList paths;
    for (const QString &entry :
         qEnvironmentVariable("PLOVIKKIT_EXTRA_PORTS").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        paths << entry.section(QLatin1Char('='), 0, 0);
    return paths;
}

} // namespace

StationPorts::StationPorts(QObject *parent) : QObject(parent)
{
    scanTimer.setSingleShot(true);
    connect(&watcher, &QFileSystemWatcher::directoryChanged, this, &StationPorts::recheck);
    connect(&scanTimer, &QTimer::timeout, this, &StationPorts::recheck);
}

void StationPorts::start(bool listAll)
{
    listing = listAll;
    if (listing)
        current = listNow();
    watchFolders();
}

QStringList StationPorts::listNow()
{
    QStringList names;
    for (const SerialPortEntry &port : SerialPortList::availablePorts())
        names.append(port.name);
    return names;
}

// Device nodes come and go in /dev; a re-plugged adapter's by-id link in /dev/serial/by-id; a
// virtual port's path in its own folder, and a symlink's target in the target's folder.
void StationPorts::watchFolders()
{
    QStringList folders{QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")};
    for (const QString &path : namedExtraPaths() + givenPaths) {
        const QFileInfo info(path);
        folders << info.absolutePath();
        if (info.isSymLink())
            folders << QFileInfo(info.symLinkTarget()).absolutePath();
    }
    folders.removeDuplicates();
    QStringList present;
    for (const QString &folder : folders) {
        if (QFileInfo(folder).isDir() && !watcher.directories().contains(folder))
            present << folder;
    }
    if (!present.isEmpty())
        watcher.addPaths(present);
    // Without any notice (no folder could be watched) the list is read on a clock instead.
    if (watcher.directories().isEmpty())
        scanTimer.start(kScanMs);
}

void StationPorts::recheck()
{
    if (!listing) {
        watchFolders();
        emit changed({}, {});
        return;
    }
    const QStringList now = listNow();
    QStringList appeared;
    QStringList disappeared;
    for (const QString &name : now) {
        if (!current.contains(name))
            appeared << name;
    }
    for (const QString &name : qAsConst(current)) {
        if (!now.contains(name))
            disappeared << name;
    }
    current = now;
    // A folder made since (/dev/serial/by-id at the first adapter) is watched from now on.
    watchFolders();
    // A changed folder may still hold the same ports, and yet a serial number may have moved
    // (a by-id link re-made): the slots hear of it all the same.
    emit changed(appeared, disappeared);
}
