#pragma once

#include <QString>
#include <QtGlobal>

// Blocking writes to the program's standard output and error, and what kind of file they are,
// where the answer depends on the operating system.
namespace ConsoleStream {

// Writes every byte, waiting as long as the reader does. False with the system's reason when
// the file refuses them (a full disk, a reader gone).
bool writeAll(int fd, const char *data, qint64 size, QString *error);
bool isTerminal(int fd);
// True when both descriptors lead to one file, pipe or terminal (`>log 2>&1`, or both on the
// screen): what goes to one must keep its order with what goes to the other.
bool sameFile(int first, int second);
// A pipe that wakes a thread waiting in waitWritable; false where there is no such thing (the
// writes then simply block).
bool openWakePipe(int fds[2]);
void wake(int wakeFd);
// Waits until `fd` takes at least a pipe's atomic write without blocking (or would report its
// error), true then; false, having read the wake-up, when `wakeFd` was written first.
bool waitWritable(int fd, int wakeFd);
// What a write after waitWritable may hold without blocking on a pipe or socket.
constexpr int kAtomicWriteBytes = 4096;

// The size of the terminal behind `fd`; 24 rows and 80 columns when it cannot tell.
int terminalRows(int fd);
int terminalColumns(int fd);

} // namespace ConsoleStream
