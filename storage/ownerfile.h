#pragma once

#include <QString>

// Settings files may hold credentials: the files the tool creates start out readable by their
// owner only, before any content is written into them.
namespace OwnerFile {

// Creates an empty file restricted to its owner. An existing file is left untouched; returns
// false when the file could not be created or restricted.
bool createEmpty(const QString &filePath);

} // namespace OwnerFile
