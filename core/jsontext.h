#pragma once

#include <QString>

// Text placed between the quotes of a JSON string inside a message template: a quote, a
// backslash or a control character cannot break the message; ordinary text is unchanged.
namespace JsonText {

QString escaped(const QString &text);

} // namespace JsonText
