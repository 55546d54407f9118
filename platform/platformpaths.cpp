#include "platform/platformpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace PlatformPaths {

namespace {

QString configRoot()
{
#ifdef Q_OS_WIN
    return QStringLiteral("C:/Users/Public");
#else
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
}

} // namespace

QString settingsFolder()
{
    return configRoot() + QStringLiteral("/plovik");
}

QString settingsIniPath()
{
    return settingsFolder() + QStringLiteral("/config.ini");
}

QString workParamsFolder()
{
    return configRoot() + QStringLiteral("/FERNO-FLASH_PROGRAMER");
}

QString workParamsFileName()
{
    return QStringLiteral("WORK_PARAMS.txt");
}

QString installedDataFolder()
{
    return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath())
                               .absoluteFilePath(QStringLiteral(PLOVIKKIT_DATA_FROM_BIN)));
}

QString shippedFile(const QString &name)
{
    const QString inWorkingDirectory = QDir::current().absoluteFilePath(name);
    if (QFileInfo::exists(inWorkingDirectory))
        return inWorkingDirectory;
    const QString installed = installedDataFolder() + QLatin1Char('/') + name;
    return QFileInfo::exists(installed) ? installed : inWorkingDirectory;
}

QString updateTempFileName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("plovikKit-update-temp.exe");
#else
    return QStringLiteral("plovikKit-update-temp");
#endif
}

QString restartScriptName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("restart.bat");
#else
    return QStringLiteral("restart.sh");
#endif
}

bool restrictToOwner(const QString &filePath)
{
#ifdef Q_OS_WIN
    Q_UNUSED(filePath)
    return true;
#else
    return QFile::setPermissions(filePath, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

bool restrictToOwner(QFileDevice &file)
{
#ifdef Q_OS_WIN
    Q_UNUSED(file)
    return true;
#else
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
#endif
}

} // namespace PlatformPaths
