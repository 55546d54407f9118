#pragma once

#include <QString>

// Questions about devices and terminals whose answer depends on the operating system.
namespace DeviceAccess {

// True when the device file exists but the user may not read and write it (on Linux:
// not in the `dialout` group). Always false where the system has no such notion.
bool lacksReadWritePermission(const QString &devicePath);

// True when standard error is an interactive terminal (progress bars only go there).
bool stderrIsTerminal();

} // namespace DeviceAccess
