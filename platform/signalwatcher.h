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

    // False when the signals cannot be watched. A signal the program inherited as ignored
    // (nohup, `trap '' HUP`) stays ignored: whoever started it chose so.
    bool install();
    // From then on a SIGINT or SIGTERM after any earlier watched signal ends the process at once,
    // by that signal: the operator who presses Ctrl-C twice does not want to wait for reports.
    void setSecondSignalEndsProcess(bool ends);

signals:
    void signalled(int signalNumber);

private:
    static void handleSignal(int signalNumber);
    void readSignal();

    QSocketNotifier *notifier = nullptr;
    QList<int> installed;
};
