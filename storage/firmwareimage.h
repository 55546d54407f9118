#pragma once

#include <QByteArray>
#include <QString>

// A firmware image file as an update takes it: a regular file, small enough to be held and
// padded in memory. The file system is asked first, so a FIFO or a device named by mistake is
// never opened.
class FirmwareImage
{
public:
    // Why the file at `path` cannot be an image (not a regular file, too large); empty when it
    // can, or when there is no file at all.
    static QString fileProblem(const QString &path);
    // Reads the whole file into `bytes`; false when it cannot be read, with the reason in
    // `problem` when there is one worth a console line.
    static bool read(const QString &path, QByteArray *bytes, QString *problem);
};
