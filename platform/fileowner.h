#pragma once

class QFileInfo;

// Whether a file can have been written by someone other than the user running the tool. A
// script the tool starts, or a settings file it rewrites, must not be another user's. On
// Windows, which has no owner ids or mode bits, every file counts as the user's own.
namespace FileOwner {

// True when the file (followed if it is a link) belongs to the user running the tool, or to
// root when `rootToo` is set.
bool ownedByUser(const QFileInfo &file, bool rootToo);

// True when its group or everyone may write the file.
bool othersMayWrite(const QFileInfo &file);

} // namespace FileOwner
