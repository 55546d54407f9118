#include "cli/terminalboard.h"

#include "cli/outputwriter.h"
#include "cli/terminaltext.h"
#include "platform/consolestream.h"

#include <QJsonDocument>
#include <cstdio>

TerminalBoard::TerminalBoard(OutputWriter &writer, bool show, Lines lines)
    : writer(writer), show(show), lines(std::move(lines)),
      holdLines(show && ConsoleStream::isTerminal(fileno(stdout)))
{
    redrawTimer.setSingleShot(true);
    QObject::connect(&redrawTimer, &QTimer::timeout, [this] { draw(); });
}

void TerminalBoard::writeOut(const QByteArray &line, bool kept)
{
    if (!holdLines) {
        writer.write(OutputWriter::Stream::Out, line,
                     kept ? OutputWriter::Kind::Kept : OutputWriter::Kind::Line);
        return;
    }
    if (!kept && heldBytes + line.size() > OutputWriter::kCapacityBytes) {
        ++droppedHeld;
        return;
    }
    heldLines << line;
    heldBytes += line.size();
    changed();
}

void TerminalBoard::writeJson(const QJsonObject &object, bool kept)
{
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n', kept);
}

void TerminalBoard::changed()
{
    if (!show || redrawTimer.isActive())
        return;
    const qint64 since = lastDraw.isValid() ? lastDraw.elapsed() : kRedrawMs;
    redrawTimer.start(int(qMax<qint64>(0, kRedrawMs - since)));
}

void TerminalBoard::close()
{
    show = false;
    holdLines = false;
    redrawTimer.stop();
    writer.setBoard(QByteArray(), QByteArray(), heldLines);
    heldLines.clear();
    heldBytes = 0;
}

qint64 TerminalBoard::droppedLines() const
{
    return writer.droppedLines() + droppedHeld;
}

void TerminalBoard::note(const QString &text)
{
    writer.write(
        OutputWriter::Stream::Err,
        (TerminalText::escaped(QStringLiteral("plovikkit-flash: ") + text) + QLatin1Char('\n')).toUtf8());
}

void TerminalBoard::draw()
{
    lastDraw.start();
    const int errFd = fileno(stderr);
    const QStringList shown =
        lines(ConsoleStream::terminalRows(errFd), ConsoleStream::terminalColumns(errFd));
    QByteArray drawn;
    for (const QString &line : shown)
        drawn += "\x1b[K" + line.toUtf8() + '\n';
    const QByteArray erase =
        shown.isEmpty() ? QByteArray() : QStringLiteral("\x1b[%1A\x1b[J").arg(shown.size()).toLatin1();
    writer.setBoard(drawn, erase, heldLines);
    heldLines.clear();
    heldBytes = 0;
}
