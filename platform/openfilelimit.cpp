#include "platform/openfilelimit.h"

#include <QDir>
#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

namespace OpenFileLimit {

qint64 raiseToHard()
{
#ifdef Q_OS_WIN
    return -1;
#else
    rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    if (limit.rlim_cur == RLIM_INFINITY)
        return -1;
    return qint64(limit.rlim_cur);
#endif
}

int openCount()
{
#ifdef Q_OS_LINUX
    // Reading the folder holds one more descriptor while it is read, not afterwards.
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size()) - 1;
#else
    return -1;
#endif
}

} // namespace OpenFileLimit
