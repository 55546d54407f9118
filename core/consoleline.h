#pragma once

#include <QString>

// The log console's line: "hh:mm:ss.zzz - (set-65): <text>". The window's console and
// the command-line flasher's stdout print the very same lines.
namespace ConsoleLine {

QString format(const QString &time, const QString &text);
QString formatNow(const QString &text);
// The local time of day as "hh:mm:ss.zzz", cheap enough for a line per frame.
QString timeNow();

} // namespace ConsoleLine
