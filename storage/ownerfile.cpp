#include "ownerfile.h"

#include "platformpaths.h"

#include <QFile>

namespace OwnerFile {

bool createEmpty(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return false;
    file.close();
    return PlatformPaths::restrictToOwner(filePath);
}

} // namespace OwnerFile
