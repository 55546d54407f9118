#pragma once

#include <QString>

// Text as a terminal shows it: characters that would move the cursor, change colours or
// reorder the line are written out instead ("\x1B"), and widths are counted in columns, a
// CJK character taking two and a combining mark none.
namespace TerminalText {

// The first character no target name may hold (a control character, a line or paragraph
// separator, a direction override), or a null QChar when there is none.
QChar forbiddenCharacter(const QString &text);
QString escaped(const QString &text);
int width(const QString &text);
// Cut to at most `columns` columns, ending in "…" when something was cut.
QString fitted(const QString &text, int columns);
// Filled up with blanks to `columns` columns (never cut).
QString padded(const QString &text, int columns);

} // namespace TerminalText
