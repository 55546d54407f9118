#pragma once

#include <QString>

class QFileDevice;

// Every path that is fixed per operating system. On Windows they are the public folders
// the tool has always used; elsewhere the same names live under the user's configuration
// folder, so that XDG_CONFIG_HOME moves them (the tests rely on that).
namespace PlatformPaths {

// Folder of the INI settings file, and the file itself.
QString settingsFolder();
QString settingsIniPath();

// Default folder and file name of the JSON work-parameter store.
QString workParamsFolder();
QString workParamsFileName();

// A file shipped with the program (project.conf, startContent.html, app.ico, restart.sh): the
// one in the working directory when there is one, as when running from the build folder, else
// the one in the installed data folder (<prefix>/share/plovikkit). When neither exists, the
// working directory's path, where it was looked for first.
QString shippedFile(const QString &name);
// The installed data folder, found from the running program's own folder.
QString installedDataFolder();

// Self-update hand-over: the downloaded build and the script that puts it in place.
QString updateTempFileName();
QString restartScriptName();

// Restricts a settings file to its owner where the platform supports it; it may hold
// credentials. Returns false when the permissions could not be set.
bool restrictToOwner(const QString &filePath);
// The same for a file being written (a QSaveFile's temporary file, before it replaces the old one).
bool restrictToOwner(QFileDevice &file);

} // namespace PlatformPaths
