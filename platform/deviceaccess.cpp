#include "platform/deviceaccess.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <cstdio>
#include <io.h>
#else
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace DeviceAccess {

bool lacksReadWritePermission(const QString &devicePath)
{
#ifdef Q_OS_WIN
    Q_UNUSED(devicePath)
    return false;
#else
    const QByteArray path = QFile::encodeName(devicePath);
    return QFileInfo::exists(devicePath) && ::access(path.constData(), R_OK | W_OK) != 0;
#endif
}

bool hasUnreadInput(qintptr handle)
{
#ifdef Q_OS_WIN
    Q_UNUSED(handle)
    return true;
#else
    int unread = 0;
    return ::ioctl(int(handle), FIONREAD, &unread) != 0 || unread > 0;
#endif
}

void claimExclusively(qintptr handle)
{
#ifdef Q_OS_WIN
    Q_UNUSED(handle)
#else
    ::ioctl(int(handle), TIOCEXCL);
#endif
}

bool isCharacterDevice(const QString &path)
{
#ifdef Q_OS_WIN
    return QFileInfo::exists(path);
#else
    struct stat facts
    {
    };
    return ::stat(QFile::encodeName(path).constData(), &facts) == 0 && S_ISCHR(facts.st_mode);
#endif
}

QString deviceIdentity(const QString &path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path)
    return QString();
#else
    struct stat facts
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &facts) != 0)
        return QString();
    if (S_ISCHR(facts.st_mode))
        return QStringLiteral("device %1").arg(quint64(facts.st_rdev));
    return QStringLiteral("file %1:%2").arg(quint64(facts.st_dev)).arg(quint64(facts.st_ino));
#endif
}

bool stderrIsTerminal()
{
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) != 0;
#endif
}

} // namespace DeviceAccess
