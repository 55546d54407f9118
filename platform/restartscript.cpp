#include "restartscript.h"

#include "platformpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace RestartScript {

bool start(const QString &folder, const QString &newBuild, const QString &program, QString *error)
{
    const QString script = PlatformPaths::shippedFile(PlatformPaths::restartScriptName());
    if (!QFileInfo(script).isFile()) {
        *error = QStringLiteral("restart script %1 not found").arg(script);
        return false;
    }
#ifdef Q_OS_WIN
    Q_UNUSED(newBuild)
    Q_UNUSED(program)
    const QString shell = QStringLiteral("cmd.exe");
    const QStringList arguments{QStringLiteral("/c"), QDir::toNativeSeparators(script)};
#else
    const QString shell = QStringLiteral("/bin/sh");
    // The script waits for this process to end before it touches the program.
    const QStringList arguments{script, newBuild, program,
                                QString::number(QCoreApplication::applicationPid())};
#endif
    // Arguments travel separately, so a folder with blanks needs no quoting of its own.
    if (!QProcess::startDetached(shell, arguments, folder)) {
        *error = QStringLiteral("restart script %1 could not be started").arg(script);
        return false;
    }
    return true;
}

} // namespace RestartScript
