#include "ptytransport.h"

#include "wiretiming.h"

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
    m_hangupTimer.setSingleShot(true);
    m_hangupTimer.setInterval(kHangupPollMs);
    connect(&m_hangupTimer, &QTimer::timeout, this, [this] { m_readNotifier->setEnabled(true); });
    connect(&m_writeTimer, &NanoTimer::timeout, this, &PtyTransport::flushPending);
    connect(&m_receiveLine, &ReceiveLine::arrived, this, &DeviceTransport::received);
}

void PtyTransport::setBaudRate(int baudRate)
{
    m_baudRate = baudRate;
    m_receiveLine.setBaudRate(baudRate);
}

PtyTransport::~PtyTransport()
{
    if (m_slaveKeeper >= 0)
        ::close(m_slaveKeeper);
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyTransport::open(QString *error)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        *error = systemError("posix_openpt");
        return false;
    }
    const char *name = ptsname(m_master);
    if (!name) {
        *error = systemError("ptsname");
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    m_slaveKeeper = ::open(name, O_RDWR | O_NOCTTY);
    termios settings{};
    if (m_slaveKeeper < 0 || tcgetattr(m_slaveKeeper, &settings) != 0) {
        *error = systemError("open slave");
        return false;
    }
    cfmakeraw(&settings);
    if (tcsetattr(m_slaveKeeper, TCSANOW, &settings) != 0) {
        *error = systemError("tcsetattr");
        return false;
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyTransport::readMaster);
    return true;
}

void PtyTransport::readMaster()
{
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        if (count > 0) {
            m_receiveLine.push(QByteArray(buffer, int(count)));
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
    m_readNotifier->setEnabled(false);
    m_hangupTimer.start();
}

void PtyTransport::write(const QByteArray &bytes)
{
    if (m_master < 0)
        return;
    discardStaleOutput();
    m_lastWrite.start();
    if (m_pending.isEmpty()) {
        m_paceClock.start();
        m_pacedBytes = 0;
        m_paceHeadStartNs = m_receiveLine.releaseLatenessNs();
    }
    m_pending.append(bytes);
    if (m_pending.size() > kMaxPendingBytes) {
        emit logLine(
            QStringLiteral("output of %1 bytes dropped: nobody reads the line").arg(m_pending.size()));
        m_pending.clear();
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
    if (!m_lastWrite.isValid() || m_lastWrite.elapsed() < kStaleOutputMs ||
        ioctl(m_slaveKeeper, FIONREAD, &unread) != 0 || unread <= 0)
        return;
    tcflush(m_slaveKeeper, TCIFLUSH);
    emit logLine(QStringLiteral("discarded %1 unread bytes: nobody has the port open").arg(unread));
}

qint64 PtyTransport::paceNowNs() const
{
    return m_paceClock.nsecsElapsed() + m_paceHeadStartNs;
}

qint64 PtyTransport::pacedBudget() const
{
    if (m_baudRate <= 0)
        return m_pending.size();
    // Counted in the same nanoseconds as nsUntilNextWrite(), so that a byte is due exactly
    // when the timer says so (a coarser clock here would find it not yet due).
    return WireTiming::charactersIn(paceNowNs(), m_baudRate) - m_pacedBytes;
}

// Wakes when the next bytes have had their line time, not on a fixed tick that would hold
// every short reply back by the tick: in chunks of about a millisecond, but exactly when the
// last pending byte is due.
qint64 PtyTransport::nsUntilNextWrite() const
{
    constexpr qint64 kChunkNs = 1000000;
    const auto dueNs = [this](qint64 bytes) { return WireTiming::lineNs(bytes, m_baudRate); };
    const qint64 now = paceNowNs();
    const qint64 nextNs = dueNs(m_pacedBytes + 1) - now;
    const qint64 lastNs = dueNs(m_pacedBytes + m_pending.size()) - now;
    return qMin(lastNs, qMax(nextNs, kChunkNs));
}

void PtyTransport::flushPending()
{
    bool ptyFull = false;
    for (;;) {
        const qint64 budget = qMin<qint64>(pacedBudget(), m_pending.size());
        if (budget <= 0)
            break;
        const ssize_t written = ::write(m_master, m_pending.constData(), size_t(budget));
        if (written > 0) {
            m_pending.remove(0, int(written));
            m_pacedBytes += written;
        }
        if (written < budget) {
            ptyFull = true;
            break;
        }
    }
    if (m_pending.isEmpty() || m_writeTimer.isActive())
        return;
    // A full pty buffer (nobody reads) is retried at a calm pace.
    const bool paced = m_baudRate > 0 && !ptyFull;
    m_writeTimer.start(paced ? nsUntilNextWrite() : qint64(kWriteRetryMs) * 1000000);
}
