#pragma once

#include <QString>

// The script that puts a downloaded build in place once the tool has ended: restart.bat on
// Windows, restart.sh elsewhere, in the folder the tool runs from.
namespace RestartScript {

// Starts the script in `folder` as a detached process. Returns false, with the reason in
// `error`, when it is missing or could not be started.
bool start(const QString &folder, QString *error);

} // namespace RestartScript
