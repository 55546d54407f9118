#include "storage/ownerfile.h"

#include "platform/platformpaths.h"

#include <QFile>
#include <QFileInfo>

namespace OwnerFile {

bool createEmpty(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    file.close();
    return PlatformPaths::restrictToOwner(filePath);
}

QString keepCorruptCopy(const QString &filePath)
{
    const QString base = filePath + QStringLiteral(".corrupt");
    QString copyPath = base;
    for (int number = 1; QFileInfo::exists(copyPath); ++number)
        copyPath = base + QLatin1Char('.') + QString::number(number);
    if (!QFile::copy(filePath, copyPath))
        return QString();
    PlatformPaths::restrictToOwner(copyPath);
    return copyPath;
}

} // namespace OwnerFile
