#pragma once

#include <QString>

// Where the update session reports to: the log console and progress bar of the window,
// or stdout and a progress bar on stderr in the command-line flasher.
class UpdateReporter
{
public:
    virtual ~UpdateReporter() = default;

    virtual void consoleLine(const QString &text) = 0;
    virtual void progressReset() = 0;
    virtual void progressMaximum(int maximum) = 0;
    virtual void progressValue(int value) = 0;
    // The device address as 8 upper-case hexadecimal digits.
    virtual void deviceAddress(const QString &address) = 0;
    // The split and packet lengths the device announced, before the transfer starts.
    virtual void deviceParameters(quint16 splitLen, quint16 uartLen)
    {
        Q_UNUSED(splitLen)
        Q_UNUSED(uartLen)
    }
};
