#pragma once

#include <QString>
#include <QtGlobal>

// Questions about devices and terminals whose answer depends on the operating system.
namespace DeviceAccess {

// True when the device file exists but the user may not read and write it (on Linux:
// not in the `dialout` group). Always false where the system has no such notion.
bool lacksReadWritePermission(const QString &devicePath);

// True when the device behind this open handle holds received bytes that nobody has
// read yet. Where the system cannot tell, true (the caller then simply tries to read).
bool hasUnreadInput(qintptr handle);

// Asks the system to refuse further opens of the device behind this open handle (other users'
// programs; root is not held back). Does nothing where the system has no such notion.
void claimExclusively(qintptr handle);

// True when the path (after symlinks) is a character device, as serial lines and ptys are.
// Where the system has no such notion, true for anything that exists.
bool isCharacterDevice(const QString &path);

// What names the device behind `path` after its links are followed: the device number of a
// character device, else the file system's and the file's own. Empty when there is no such file,
// or where the system cannot tell: the caller then compares the paths themselves.
QString deviceIdentity(const QString &path);

// True when standard error is an interactive terminal (progress bars only go there).
bool stderrIsTerminal();

} // namespace DeviceAccess
