#include "tools/devsim/ptytransport.h"

#include "protocol/wiretiming.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kHangupPollMs = 100;
constexpr int kWriteRetryMs = 5;
// Beyond this nobody reads the line; a UART would lose the bytes too.
constexpr int kMaxPendingBytes = 64 * 1024;
// Output still unread after this long went to a port nobody has open.
constexpr int kStaleOutputMs = 1000;

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyTransport::PtyTransport(QObject *parent) : DeviceTransport(parent)
{
    hangupTimer.setSingleShot(true);
    hangupTimer.setInterval(kHangupPollMs);
    connect(&hangupTimer, &QTimer::timeout, this, [this] { readNotifier->setEnabled(true); });
    connect(&writeTimer, &NanoTimer::timeout, this, &PtyTransport::flushPending);
    connect(&receiveLine, &ReceiveLine::arrived, this, &DeviceTransport::received);
}

void PtyTransport::setBaudRate(int baudRate)
{
    lineRate = baudRate;
    receiveLine.setBaudRate(baudRate);
}

PtyTransport::~PtyTransport()
{
    if (slaveKeeper >= 0)
        ::close(slaveKeeper);
    if (masterFd >= 0)
        ::close(masterFd);
}

bool PtyTransport::open(QString *error)
{
    masterFd = posix_openpt(O_RDWR | O_NOCTTY);
    if (masterFd < 0 || grantpt(masterFd) != 0 || unlockpt(masterFd) != 0) {
        *error = systemError("posix_openpt");
        return false;
    }
    const char *name = ptsname(masterFd);
    if (!name) {
        *error = systemError("ptsname");
        return false;
    }
    slaveFilePath = QString::fromLocal8Bit(name);
    slaveKeeper = ::open(name, O_RDWR | O_NOCTTY);
    termios settings{};
    if (slaveKeeper < 0 || tcgetattr(slaveKeeper, &settings) != 0) {
        *error = systemError("open slave");
        return false;
    }
    cfmakeraw(&settings);
    if (tcsetattr(slaveKeeper, TCSANOW, &settings) != 0) {
        *error = systemError("tcsetattr");
        return false;
    }
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    readNotifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, &PtyTransport::readMaster);
    return true;
}

void PtyTransport::readMaster()
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(masterFd, buffer, sizeof buffer);
        if (count > 0) {
            receiveLine.push(QByteArray(buffer, int(count)));
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            waitAfterHangup();
        return;
    }
}

// The tool closed its end (EIO on the master). It may open the port again, so keep the
// master and look again a little later instead of spinning on the error.
void PtyTransport::waitAfterHangup()
{
    readNotifier->setEnabled(false);
    hangupTimer.start();
}

void PtyTransport::write(const QByteArray &bytes)
{
    if (masterFd < 0)
        return;
    discardStaleOutput();
    lastWrite.start();
    if (pendingBytes.isEmpty()) {
        paceClock.start();
        pacedBytes = 0;
        paceHeadStartNs = receiveLine.releaseLatenessNs();
    }
    pendingBytes.append(bytes);
    if (pendingBytes.size() > kMaxPendingBytes) {
        emit logLine(
            QStringLiteral("output of %1 bytes dropped: nobody reads the line").arg(pendingBytes.size()));
        pendingBytes.clear();
        return;
    }
    flushPending();
}

// The slave is held open by the device itself, so bytes written while no tool has the
// port open would wait there and reach the tool as a stale burst when it opens the port.
// A UART loses them; so does the simulated line.
void PtyTransport::discardStaleOutput()
{
    int unread = 0;
    if (!lastWrite.isValid() || lastWrite.elapsed() < kStaleOutputMs ||
        ioctl(slaveKeeper, FIONREAD, &unread) != 0 || unread <= 0)
        return;
    tcflush(slaveKeeper, TCIFLUSH);
    emit logLine(QStringLiteral("discarded %1 unread bytes: nobody has the port open").arg(unread));
}

qint64 PtyTransport::paceNowNs() const
{
    return paceClock.nsecsElapsed() + paceHeadStartNs;
}

qint64 PtyTransport::pacedBudget() const
{
    if (lineRate <= 0)
        return pendingBytes.size();
    // Counted in the same nanoseconds as nsUntilNextWrite(), so that a byte is due exactly
    // when the timer says so (a coarser clock here would find it not yet due).
    return WireTiming::charactersIn(paceNowNs(), lineRate) - pacedBytes;
}

// Wakes when the next bytes have had their line time, not on a fixed tick that would hold
// every short reply back by the tick: in chunks of about a millisecond, but exactly when the
// last pending byte is due.
qint64 PtyTransport::nsUntilNextWrite() const
{
    constexpr qint64 kChunkNs = 1000000;
    const auto dueNs = [this](qint64 bytes) { return WireTiming::lineNs(bytes, lineRate); };
    const qint64 now = paceNowNs();
    const qint64 nextNs = dueNs(pacedBytes + 1) - now;
    const qint64 lastNs = dueNs(pacedBytes + pendingBytes.size()) - now;
    return qMin(lastNs, qMax(nextNs, kChunkNs));
}

void PtyTransport::flushPending()
{
    bool ptyFull = false;
    for (;;) {
        const qint64 budget = qMin<qint64>(pacedBudget(), pendingBytes.size());
        if (budget <= 0)
            break;
        const ssize_t written = ::write(masterFd, pendingBytes.constData(), size_t(budget));
        if (written > 0) {
            pendingBytes.remove(0, int(written));
            pacedBytes += written;
        }
        if (written < budget) {
            ptyFull = true;
            break;
        }
    }
    if (pendingBytes.isEmpty() || writeTimer.isActive())
        return;
    // A full pty buffer (nobody reads) is retried at a calm pace.
    const bool paced = lineRate > 0 && !ptyFull;
    writeTimer.start(paced ? nsUntilNextWrite() : qint64(kWriteRetryMs) * 1000000);
}
