#include "devsimprocess.h"

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
    while (process.state() == QProcess::Running && !process.canReadLine())
        process.waitForReadyRead(100);
    const QString firstLine = QString::fromLocal8Bit(process.readLine()).trimmed();
    if (!firstLine.startsWith(QStringLiteral("pty: ")))
        return false;
    ptyPath = firstLine.mid(5);
    return true;
}

void DevsimProcess::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

QString DevsimProcess::log()
{
    logText += QString::fromLocal8Bit(process.readAllStandardError());
    return logText;
}
