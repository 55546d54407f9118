#include "configini.h"

#include "ownerfile.h"
#include "platformpaths.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

QSettings *ConfigIni::open(QObject *parent)
{
    const QString filePath = PlatformPaths::settingsIniPath();
    QDir().mkpath(PlatformPaths::settingsFolder());
    // QSettings rewrites an existing file in place of the old one and keeps its permissions, so
    // restricting the file once, while it is still empty, covers every later write.
    if (!QFileInfo::exists(filePath))
        OwnerFile::createEmpty(filePath);
    auto *settings = new QSettings(filePath, QSettings::IniFormat, parent);
    // Account names and profile names are often not ASCII; keep them readable in the file.
    settings->setIniCodec("UTF-8");
    return settings;
}

bool ConfigIni::sync(QSettings *settings)
{
    settings->sync();
    const QString filePath = settings->fileName();
    const bool restricted = !QFileInfo::exists(filePath) || PlatformPaths::restrictToOwner(filePath);
    return settings->status() == QSettings::NoError && restricted;
}
