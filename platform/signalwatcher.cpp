#include "platform/signalwatcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may only write to a descriptor; the event loop reads the other end.
int signalPipe[2] = {-1, -1};
volatile sig_atomic_t signalsSeen = 0;
volatile sig_atomic_t secondSignalEnds = 0;

constexpr int kWatchedSignals[] = {SIGTERM, SIGINT, SIGHUP};

bool inheritedAsIgnored(int signalNumber)
{
    struct sigaction current = {};
    return sigaction(signalNumber, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent) {}

SignalWatcher::~SignalWatcher()
{
    for (int signalNumber : qAsConst(installed))
        std::signal(signalNumber, SIG_DFL);
    secondSignalEnds = 0;
}

bool SignalWatcher::install()
{
    if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return false;
    notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalWatcher::readSignal);
    struct sigaction action = {};
    action.sa_handler = &SignalWatcher::handleSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (int signalNumber : kWatchedSignals) {
        if (inheritedAsIgnored(signalNumber))
            continue;
        if (sigaction(signalNumber, &action, nullptr) == 0)
            installed.append(signalNumber);
        else
            ok = false;
    }
    return ok;
}

void SignalWatcher::setSecondSignalEndsProcess(bool ends)
{
    secondSignalEnds = ends ? 1 : 0;
}

void SignalWatcher::handleSignal(int signalNumber)
{
    if (secondSignalEnds && signalsSeen > 0 && (signalNumber == SIGINT || signalNumber == SIGTERM)) {
        // Delivered again once this handler returns, now with the default action.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    signalsSeen = signalsSeen + 1;
    const char byte = char(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[0], &byte, 1);
}

void SignalWatcher::readSignal()
{
    char byte = 0;
    if (::read(signalPipe[1], &byte, 1) == 1)
        emit signalled(byte);
}
