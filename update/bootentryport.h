#pragma once

#include <QtGlobal>

// The serial side of a boot entry: the module commands and the gateway's serial text are
// written here, and the short pauses between them wait for the device's answer bytes.
class BootEntryPort
{
public:
    virtual ~BootEntryPort() = default;

    virtual void write(const char *data, qint64 len) = 0;
    // A zero-terminated text; the terminator is not sent.
    virtual void write(const char *text) = 0;
    // Waits up to the time-out for incoming bytes.
    virtual bool readWait(int timeoutMs) = 0;
};
