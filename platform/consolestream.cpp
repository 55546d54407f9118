#include "platform/consolestream.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#ifdef Q_OS_WIN
#include <io.h>
#else
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace ConsoleStream {

namespace {

constexpr int kDefaultRows = 24;
constexpr int kDefaultColumns = 80;

#ifndef Q_OS_WIN
bool windowSize(int fd, winsize *size)
{
    return ::ioctl(fd, TIOCGWINSZ, size) == 0 && size->ws_row > 0 && size->ws_col > 0;
}
#endif

} // namespace

bool writeAll(int fd, const char *data, qint64 size, QString *error)
{
    while (size > 0) {
#ifdef Q_OS_WIN
        const int written = ::_write(fd, data, unsigned(qMin<qint64>(size, 1 << 30)));
#else
        const ssize_t written = ::write(fd, data, size_t(size));
#endif
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            *error = QString::fromLocal8Bit(std::strerror(written < 0 ? errno : EIO));
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

bool isTerminal(int fd)
{
#ifdef Q_OS_WIN
    return ::_isatty(fd) != 0;
#else
    return ::isatty(fd) != 0;
#endif
}

bool sameFile(int first, int second)
{
    struct stat a = {};
    struct stat b = {};
    if (::fstat(first, &a) != 0 || ::fstat(second, &b) != 0)
        return false;
#ifdef Q_OS_WIN
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_ino != 0;
#else
    if (S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode))
        return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
#endif
}

bool openWakePipe(int fds[2])
{
#ifdef Q_OS_WIN
    Q_UNUSED(fds)
    return false;
#else
    return ::pipe(fds) == 0 && ::fcntl(fds[0], F_SETFL, O_NONBLOCK) == 0 &&
           ::fcntl(fds[1], F_SETFL, O_NONBLOCK) == 0 && ::fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 &&
           ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0;
#endif
}

void wake(int wakeFd)
{
#ifdef Q_OS_WIN
    Q_UNUSED(wakeFd)
#else
    const char byte = 0;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &byte, 1);
#endif
}

bool waitWritable(int fd, int wakeFd)
{
#ifdef Q_OS_WIN
    Q_UNUSED(fd)
    Q_UNUSED(wakeFd)
    return true;
#else
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    while (::poll(fds, 2, -1) < 0) {
        if (errno != EINTR)
            return true;
    }
    if (fds[0].revents != 0)
        return true;
    char drained[64];
    while (::read(wakeFd, drained, sizeof drained) > 0) {
    }
    return false;
#endif
}

int terminalRows(int fd)
{
#ifndef Q_OS_WIN
    winsize size = {};
    if (windowSize(fd, &size))
        return size.ws_row;
#else
    Q_UNUSED(fd)
#endif
    return kDefaultRows;
}

int terminalColumns(int fd)
{
#ifndef Q_OS_WIN
    winsize size = {};
    if (windowSize(fd, &size))
        return size.ws_col;
#else
    Q_UNUSED(fd)
#endif
    return kDefaultColumns;
}

} // namespace ConsoleStream
