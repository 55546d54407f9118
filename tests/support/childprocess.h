#pragma once

#include <QProcess>

// Asks a child process of a test to end, and kills it when it does not.
inline void stopChildProcess(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}
