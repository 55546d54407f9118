#pragma once

class QObject;
class QSettings;

// The shared INI settings file. The serial panel, the MQTT window and the account window each
// open their own settings object on it and write only their own keys.
class ConfigIni
{
public:
    // A settings object on the INI file, owned by parent. The folder is made if needed, and a new
    // file is created readable by its owner only before anything is written into it.
    static QSettings *open(QObject *parent);

    // Writes pending changes now and makes sure the file is still owner-only afterwards (it may have
    // been deleted and created anew behind the tool's back). Returns false on any failure.
    static bool sync(QSettings *settings);
};
