#pragma once

#include <QtGlobal>

// How many files the process may hold open, where the system limits it per process.
namespace OpenFileLimit {

// Raises the soft limit to the hard one and returns the limit in force afterwards; -1 where
// the system sets none the program can read.
qint64 raiseToHard();
// How many descriptors the process holds now; -1 when the system cannot tell.
int openCount();

} // namespace OpenFileLimit
