#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

// Tells when a serial port's device appears or goes. Where ports are device files the file
// system's own notices say so (no look is taken until something changed in the folders that
// hold it); elsewhere the system's port list is asked once a second.
class PortPresence : public QObject
{
    Q_OBJECT
public:
    // How often a system without file notices is asked.
    static constexpr int kScanMs = 1000;

    explicit PortPresence(QObject *parent = nullptr);

    // Watches `portName` (a name as the system lists it, or a device path) from now on; an empty
    // name is never present.
    void watch(const QString &portName);
    QString watchedName() const { return name; }
    bool isPresent() const { return present; }

signals:
    // The watched port's device appeared or went; also once for a newly watched name.
    void changed(bool present);

private:
    void recheck();
    void watchFolders();

    QString name;
    bool present = false;
    QFileSystemWatcher watcher;
    QTimer scanTimer;
};
