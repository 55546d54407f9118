#include "cloud/servicetext.h"

namespace ServiceText {

namespace {

constexpr int kQuotedChars = 200;

} // namespace

QString withoutControls(QString text)
{
    for (QChar &c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return text;
}

QString oneLine(QString text)
{
    text.truncate(kQuotedChars);
    return withoutControls(text);
}

} // namespace ServiceText
