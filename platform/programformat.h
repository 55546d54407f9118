#pragma once

#include <QByteArray>
#include <QString>

// Whether a file is a program this system can start: an executable of the same format and for
// the same machine as the running program, that is an ELF program of this architecture on
// Linux, a PE program of this machine on Windows. Only the headers are read; a file cut short
// behind them passes, which is what the download's length check is for.
namespace ProgramFormat {

// Why `candidate` is no program like the one whose first bytes are `running`; empty when it is.
QString problem(const QByteArray &candidate, const QByteArray &running);

// The same against the running program's own file.
QString problemOnThisSystem(const QByteArray &candidate);

// The first bytes of the program at `path`, as many as problem() reads of it.
QByteArray headerOf(const QString &path);

} // namespace ProgramFormat
