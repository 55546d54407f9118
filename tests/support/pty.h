#pragma once

#include <QByteArray>
#include <QString>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

// A pseudo terminal: the test holds the master, the code under test opens the slave path.
class Pty
{
public:
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            slavePath = QString::fromLocal8Bit(::ptsname(master));
    }
    ~Pty() { closeMaster(); }
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isValid() const { return master >= 0 && !slavePath.isEmpty(); }

    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    bool send(const QByteArray &bytes)
    {
        return ::write(master, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    }

    // Everything the slave side wrote, collected until the line stays quiet for quietMs.
    QByteArray receive(int quietMs = 150)
    {
        QByteArray got;
        pollfd pfd{master, POLLIN, 0};
        while (::poll(&pfd, 1, quietMs) > 0 && (pfd.revents & POLLIN)) {
            char chunk[256];
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            got.append(chunk, int(n));
        }
        return got;
    }

    int master = -1;
    QString slavePath;
};
