#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

// The serial ports there are now, told when they change: the folders that hold them (/dev, the
// folders of PLOVIKKIT_EXTRA_PORTS paths, /dev/serial/by-id) are watched for the file system's
// notices, and the list is read again only when one comes. Where no folder can be watched the
// list is read once a second instead.
class StationPorts : public QObject
{
    Q_OBJECT
public:
    static constexpr int kScanMs = 1000;

    explicit StationPorts(QObject *parent = nullptr);

    // The folders of these device paths (ports named by a path) are watched as well.
    void watchAlso(const QStringList &devicePaths) { givenPaths = devicePaths; }
    // Reads the list now (without a signal) and watches from then on. Without `listing` the list
    // is never read (it costs thousands of system calls): every notice is a change with no names.
    void start(bool listing = true);
    QStringList ports() const { return current; }

signals:
    // The list changed: what came and what went, by the names the system lists.
    void changed(const QStringList &appeared, const QStringList &disappeared);

private:
    void recheck();
    void watchFolders();
    static QStringList listNow();

    QStringList current;
    QStringList givenPaths;
    bool listing = true;
    QFileSystemWatcher watcher;
    QTimer scanTimer;
};
