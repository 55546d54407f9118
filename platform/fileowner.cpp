#include "platform/fileowner.h"

#include <QFileInfo>
#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace FileOwner {

bool ownedByUser(const QFileInfo &file, bool rootToo)
{
#ifdef Q_OS_WIN
    Q_UNUSED(file)
    Q_UNUSED(rootToo)
    return true;
#else
    return file.ownerId() == geteuid() || (rootToo && file.ownerId() == 0);
#endif
}

bool othersMayWrite(const QFileInfo &file)
{
#ifdef Q_OS_WIN
    // Qt derives the group and other bits from the read-only flag there; they say nothing.
    Q_UNUSED(file)
    return false;
#else
    return file.permissions() & (QFileDevice::WriteGroup | QFileDevice::WriteOther);
#endif
}

} // namespace FileOwner
