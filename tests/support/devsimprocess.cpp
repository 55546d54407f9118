#include "devsimprocess.h"

#include "childprocess.h"

#include <QElapsedTimer>

DevsimProcess::~DevsimProcess()
{
    stop();
}

QString DevsimProcess::binary(const QString &name)
{
    return QStringLiteral(PLOVIKKIT_BINARY_DIR "/bin/") + name;
}

bool DevsimProcess::start(const QStringList &arguments)
{
    process.start(binary(QStringLiteral("plovikkit-devsim")), arguments);
    if (!process.waitForStarted(5000))
        return false;
    // A gateway whose broker never confirms its subscriptions must not hold the test for ever.
    QElapsedTimer clock;
    clock.start();
    while (process.state() == QProcess::Running && !process.canReadLine() && clock.elapsed() < 15000)
        process.waitForReadyRead(1000);
    // "pty: <path>", or "gateway: <id>" once a gateway listens on its broker.
    const QString firstLine = QString::fromLocal8Bit(process.readLine()).trimmed();
    ptyPath = firstLine.section(QStringLiteral(": "), 1);
    return firstLine.startsWith(QStringLiteral("pty: ")) || firstLine.startsWith(QStringLiteral("gateway: "));
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
