#include "restartscript.h"

#include "platformpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace RestartScript {

bool start(const QString &folder, QString *error)
{
    const QString script = QDir(folder).filePath(PlatformPaths::restartScriptName());
    if (!QFileInfo(script).isFile()) {
        *error = QStringLiteral("restart script %1 not found").arg(script);
        return false;
    }
#ifdef Q_OS_WIN
    const QString program = QStringLiteral("cmd.exe");
    const QStringList arguments{QStringLiteral("/c"), QDir::toNativeSeparators(script)};
#else
    const QString program = QStringLiteral("/bin/sh");
    const QStringList arguments{script};
#endif
    // Arguments travel separately, so a folder with blanks needs no quoting of its own.
    if (!QProcess::startDetached(program, arguments, folder)) {
        *error = QStringLiteral("restart script %1 could not be started").arg(script);
        return false;
    }
    return true;
}

} // namespace RestartScript
