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

    // Starts plovikkit-devsim with `arguments` and waits for the readiness line of each of
    // its `devices`: a pty path or, as a gateway, the gateway id. readyNames() returns them
    // in order, portPath() the first.
    bool start(const QStringList &arguments, int devices = 1);
    void stop();

    QString portPath() const { return names.value(0); }
    QStringList readyNames() const { return names; }
    // Everything it logged on stderr so far (one line per frame).
    QString log();

    static QString binary(const QString &name);

private:
    QProcess process;
    QStringList names;
    QString logText;
};
