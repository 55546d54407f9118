#pragma once

#include <QString>

// The script that puts a downloaded build in place once the tool has ended: restart.bat on
// Windows, restart.sh elsewhere. It runs with the user's rights, so one in the working directory
// is taken only when it is the user's (or root's) own and nobody else may write it; otherwise
// the one shipped with the program (the installed data folder, else the program's own folder).
namespace RestartScript {

// The script to start; empty, with the reason in `error`, when there is none to trust.
QString path(QString *error);

// Starts the script as a detached process in `folder`, telling it the new build and the
// program it replaces. Returns false, with the reason in `error`, when it is missing or could
// not be started.
bool start(const QString &folder, const QString &newBuild, const QString &program, QString *error);

} // namespace RestartScript
