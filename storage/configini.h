#pragma once

class QByteArray;
class QObject;
class QSettings;
class QString;

// The shared INI settings file. The serial panel, the MQTT window and the account window each
// open their own settings object on it and write only their own keys. The file keeps Qt's
// default INI form, so that other Qt tools sharing it read the same values.
class ConfigIni
{
public:
    // A settings object on the INI file, owned by parent. The folder is made if needed, and a new
    // file is created readable by its owner only before anything is written into it. A file that
    // does not parse is first kept aside as "config.ini.corrupt" (or .corrupt.1, ...) and the
    // tool starts from an empty one; a file written as raw UTF-8 text is taken over into the
    // default form with every value intact.
    static QSettings *open(QObject *parent);

    // Writes pending changes now and makes sure the file is still owner-only afterwards (it may have
    // been deleted and created anew behind the tool's back). Returns false on any failure, with
    // the reason in `why` when given.
    static bool sync(QSettings *settings, QString *why = nullptr);

private:
    // True when the file does not parse (then it is kept aside, if it can be, and not read on).
    static bool setAsideIfUnreadable(const QString &filePath, const QByteArray &bytes);
    static void adoptRawUtf8(const QString &filePath, const QByteArray &bytes);
};
