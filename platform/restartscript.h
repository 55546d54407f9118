#pragma once

#include <QString>

// The script that puts a downloaded build in place once the tool has ended: restart.bat on
// Windows, restart.sh elsewhere. It is taken from the working directory when there is one
// there, else from the installed data folder, like every shipped file.
namespace RestartScript {

// Starts the script as a detached process in `folder`, telling it the new build and the
// program it replaces. Returns false, with the reason in `error`, when it is missing or could
// not be started.
bool start(const QString &folder, const QString &newBuild, const QString &program, QString *error);

} // namespace RestartScript
