#include "history/historyfile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

bool HistoryFile::prepare(const QString &path, QString *problem)
{
    if (!makeFolder(path, problem))
        return false;
    struct stat status;
    if (lstat(QFile::encodeName(path).constData(), &status) == 0)
        return checkFile(path, problem);
    if (errno == ENOENT)
        return makeFile(path, problem);
    *problem = path + ": " + systemError();
    return false;
}

bool HistoryFile::makeFolder(const QString &path, QString *problem)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo(folder).isDir())
        return true;
    if (QDir().mkpath(folder)) {
        chmod(QFile::encodeName(folder).constData(), 0700);
        return true;
    }
    *problem = QStringLiteral("%1: its folder %2 cannot be made").arg(path, folder);
    return false;
}

bool HistoryFile::makeFile(const QString &path, QString *problem)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST)
        return checkFile(path, problem);
    if (fd < 0) {
        *problem = path + ": " + systemError();
        return false;
    }
    ::close(fd);
    return true;
}

bool HistoryFile::checkFile(const QString &path, QString *problem)
{
    struct stat status;
    if (lstat(QFile::encodeName(path).constData(), &status) != 0) {
        *problem = path + ": " + systemError();
        return false;
    }
    if (S_ISLNK(status.st_mode)) {
        *problem =
            QStringLiteral("%1 is a symbolic link; the history is never written through one").arg(path);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *problem = QStringLiteral("%1 is not a regular file").arg(path);
        return false;
    }
    if (status.st_uid == geteuid() && (status.st_mode & 077))
        chmod(QFile::encodeName(path).constData(), 0600);
    if (access(QFile::encodeName(path).constData(), R_OK | W_OK) != 0) {
        *problem = path + ": " + systemError();
        return false;
    }
    return true;
}
