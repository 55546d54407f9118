#pragma once

#include <QString>

// Settings files may hold credentials: the files the tool creates start out readable by their
// owner only, before any content is written into them.
namespace OwnerFile {

// Creates an empty file restricted to its owner. An existing file is left untouched; returns
// false when the file could not be created or restricted.
bool createEmpty(const QString &filePath);

// Keeps the file's content as "<file>.corrupt", or with a number after it when an earlier copy is
// already there, so that no copy ever overwrites another. The copy is owner-only. Returns its
// path, empty on failure.
QString keepCorruptCopy(const QString &filePath);

} // namespace OwnerFile
