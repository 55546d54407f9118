#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal, so that a program can end its work
// properly (reports written, ports and their locks released) before it exits.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    // False when the signals cannot be watched.
    bool install();

signals:
    void signalled(int signalNumber);

private:
    static void handleSignal(int signalNumber);
    void readSignal();

    QSocketNotifier *notifier = nullptr;
};
