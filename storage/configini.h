#pragma once

#include <QString>

class QByteArray;
class QObject;
class QSettings;

// The shared INI settings file. The serial panel, the MQTT window and the account window each
// open their own settings object on it and write only their own keys. The file keeps Qt's
// default INI form, so that other Qt tools sharing it read the same values.
class ConfigIni
{
public:
    // A settings object on the INI file, owned by parent. The folder is made if needed, and a new
    // file is created readable by its owner only before anything is written into it; an existing
    // one is made owner-only when it is opened. A file that does not parse (or is far too big)
    // is first kept aside as "config.ini.corrupt" (or .corrupt.1, ...) and the tool starts from an
    // empty one; a file written as raw UTF-8 text is taken over into the default form with every
    // value intact. A file the tool must not write (see writeRefusal) is left as it is: its
    // settings are read from a private copy, where changes last until the tool ends.
    static QSettings *open(QObject *parent);

    // Why the tool does not write the settings file: it is a symbolic link (it would rewrite the
    // file it points at, maybe another user's), not a regular file, or another user's. Empty
    // when it may write it.
    static QString writeRefusal();

    // Writes pending changes now and makes sure the file is still owner-only afterwards (it may have
    // been deleted and created anew behind the tool's back). Returns false on any failure, and
    // when the file must not be written, with the reason in `why` when given.
    static bool sync(QSettings *settings, QString *why = nullptr);

private:
    // True when the file does not parse (then it is kept aside, if it can be, and not read on).
    static bool setAsideIfUnreadable(const QString &filePath, const QByteArray &bytes);
    static void adoptRawUtf8(const QString &filePath, const QByteArray &bytes);
};
