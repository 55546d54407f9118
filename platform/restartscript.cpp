#include "platform/restartscript.h"

#include "platform/fileowner.h"
#include "platform/platformpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace RestartScript {

namespace {

// Why the working directory's script is not taken; empty when it may be.
QString localScriptDistrust(const QFileInfo &script)
{
    if (script.isSymLink())
        return QStringLiteral("it is a symbolic link");
    if (!script.isFile())
        return QStringLiteral("it is no regular file");
    if (!FileOwner::ownedByUser(script, true))
        return QStringLiteral("it belongs to another user");
    if (FileOwner::othersMayWrite(script))
        return QStringLiteral("other users may write it");
    return QString();
}

QString shippedScript()
{
    const QString name = PlatformPaths::restartScriptName();
    for (const QString &folder :
         {PlatformPaths::installedDataFolder(), QCoreApplication::applicationDirPath()}) {
        const QFileInfo script(QDir(folder).filePath(name));
        if (script.isFile())
            return script.absoluteFilePath();
    }
    return QString();
}

} // namespace

QString path(QString *error)
{
    const QFileInfo local(QDir::current().absoluteFilePath(PlatformPaths::restartScriptName()));
    const bool present = local.exists() || local.isSymLink();
    const QString distrust = present ? localScriptDistrust(local) : QString();
    if (present && distrust.isEmpty())
        return local.absoluteFilePath();
    const QString shipped = shippedScript();
    if (shipped.isEmpty()) {
        *error = present ? QStringLiteral("restart script %1 is not used: %2; and none is shipped with the "
                                          "program")
                               .arg(local.absoluteFilePath(), distrust)
                         : QStringLiteral("restart script %1 not found").arg(local.absoluteFilePath());
    }
    return shipped;
}

bool start(const QString &folder, const QString &newBuild, const QString &program, QString *error)
{
    const QString script = path(error);
    if (script.isEmpty())
        return false;
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
