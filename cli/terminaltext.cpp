#include "cli/terminaltext.h"

#include <QVector>

namespace TerminalText {

namespace {

bool isForbidden(uint code)
{
    switch (QChar::category(code)) {
    case QChar::Other_Control:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        // Direction embeddings, overrides and isolates make the text after them run backwards.
        return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
    }
}

// The East Asian wide and fullwidth blocks, as terminals draw them.
bool isWide(uint code)
{
    static const uint ranges[][2] = {
        {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
        {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},
        {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD},
    };
    for (const auto &range : ranges) {
        if (code >= range[0] && code <= range[1])
            return true;
    }
    return false;
}

int codeWidth(uint code)
{
    switch (QChar::category(code)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return 0;
    default:
        return isWide(code) ? 2 : 1;
    }
}

} // namespace

QChar forbiddenCharacter(const QString &text)
{
    for (const QChar c : text) {
        if (isForbidden(c.unicode()))
            return c;
    }
    return QChar();
}

QString escaped(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const ushort code = c.unicode();
        if (!isForbidden(code))
            shown += c;
        else
            shown +=
                (code < 0x100 ? QStringLiteral("\\x") : QStringLiteral("\\u")) +
                QString::number(code, 16).toUpper().rightJustified(code < 0x100 ? 2 : 4, QLatin1Char('0'));
    }
    return shown;
}

int width(const QString &text)
{
    int columns = 0;
    for (const uint code : text.toUcs4())
        columns += codeWidth(code);
    return columns;
}

QString fitted(const QString &text, int columns)
{
    if (width(text) <= columns)
        return text;
    QString cut;
    int used = 0;
    for (const uint code : text.toUcs4()) {
        if (used + codeWidth(code) > columns - 1)
            break;
        used += codeWidth(code);
        cut += QString::fromUcs4(&code, 1);
    }
    return cut + QChar(0x2026);
}

QString padded(const QString &text, int columns)
{
    return text + QString(qMax(0, columns - width(text)), QLatin1Char(' '));
}

} // namespace TerminalText
