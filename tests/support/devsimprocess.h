#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A simulated device running as its own process behind a pty, for tests that need a real
// serial path. Stopped (and its pty gone) when the object is destroyed.
class DevsimProcess
{
public:
    DevsimProcess() = default;
    ~DevsimProcess();

    // Starts plovikkit-devsim with `arguments` and waits for the pty path (or, as a gateway,
    // the gateway id) it prints first; portPath() returns it.
    bool start(const QStringList &arguments);
    void stop();

    QString portPath() const { return ptyPath; }
    // Everything it logged on stderr so far (one line per frame).
    QString log();

    static QString binary(const QString &name);

private:
    QProcess process;
    QString ptyPath;
    QString logText;
};
