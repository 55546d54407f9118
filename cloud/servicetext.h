#pragma once

#include <QString>

// Texts of the cloud service (a message, a status reason, a redirect target) as the tool quotes
// them in a log line, on stderr or in a message box.
namespace ServiceText {

// At most a few lines' worth of `text`, each line break or terminal escape made a blank, so
// that the service can neither flood nor break what shows it.
QString oneLine(QString text);
// The text with every control character (a tab, a line break, a terminal escape) made a blank.
QString withoutControls(QString text);

} // namespace ServiceText
