#include "tests/support/devsimprocess.h"

#include "tests/support/childprocess.h"

#include <QElapsedTimer>

DevsimProcess::~DevsimProcess()
{
    stop();
}

QString DevsimProcess::binary(const QString &name)
{
    return QStringLiteral(PLOVIKKIT_BINARY_DIR "/bin/") + name;
}

bool DevsimProcess::start(const QStringList &arguments, int devices)
{
    process.start(binary(QStringLiteral("plovikkit-devsim")), arguments);
    if (!process.waitForStarted(5000))
        return false;
    // A gateway whose broker never confirms its subscriptions must not hold the test for ever.
    QElapsedTimer clock;
    clock.start();
    names.clear();
    while (names.size() < devices) {
        while (process.state() == QProcess::Running && !process.canReadLine() && clock.elapsed() < 15000)
            process.waitForReadyRead(1000);
        // "pty: <path>", or "gateway: <id>" once a gateway listens on its broker.
        const QString line = QString::fromLocal8Bit(process.readLine()).trimmed();
        if (!line.startsWith(QStringLiteral("pty: ")) && !line.startsWith(QStringLiteral("gateway: ")))
            return false;
        names.append(line.section(QStringLiteral(": "), 1));
    }
    return true;
}

void DevsimProcess::stop()
{
    stopChildProcess(process);
}

QString DevsimProcess::log()
{
    logText += QString::fromLocal8Bit(process.readAllStandardError());
    return logText;
}
