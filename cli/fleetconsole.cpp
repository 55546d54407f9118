#include "cli/fleetconsole.h"

#include "cli/clireporter.h"
#include "cli/outputwriter.h"
#include "cli/terminaltext.h"
#include "core/consoleline.h"
#include "platform/consolestream.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace {

double seconds(qint64 ms)
{
    return double(ms) / 1000.0;
}

QByteArray textLine(const QString &text)
{
    return (TerminalText::escaped(text) + QLatin1Char('\n')).toUtf8();
}

} // namespace

FleetConsole::FleetConsole(OutputWriter &writer, Format format, bool showBoard, const QStringList &targets)
    : writer(writer), format(format), showBoard(showBoard), names(targets), boards(targets.size()),
      holdLines(showBoard && ConsoleStream::isTerminal(fileno(stdout)))
{
    boardTimer.setSingleShot(true);
    QObject::connect(&boardTimer, &QTimer::timeout, [this] { drawBoard(); });
}

QString FleetConsole::resultName(FleetResult result)
{
    switch (result) {
    case FleetResult::Success:
        return QStringLiteral("success");
    case FleetResult::Failed:
        return QStringLiteral("failed");
    case FleetResult::Skipped:
        return QStringLiteral("skipped");
    case FleetResult::Waiting:
    case FleetResult::Running:
        break;
    }
    return QStringLiteral("running");
}

// Whoever read stdout may have gone (`| head`); the updates still run to their end, so that
// no device is left half-written, and only the lines are dropped.
void FleetConsole::writeOut(const QByteArray &line, bool kept)
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
    scheduleBoard();
}

void FleetConsole::writeJson(const QJsonObject &object, bool kept)
{
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n', kept);
}

void FleetConsole::started(int index)
{
    Board &board = boards[index];
    board.running = true;
    board.clock.start();
    if (format == Format::Json)
        writeJson({{"target", names.at(index)}, {"event", "start"}});
    scheduleBoard();
}

void FleetConsole::line(int index, const QString &text)
{
    if (format == Format::Json)
        writeJson({{"target", names.at(index)}, {"event", "line"}, {"text", text}}, false);
    else
        writeOut(textLine(QLatin1Char('[') + names.at(index) + QStringLiteral("] ") +
                          ConsoleLine::formatNow(text)),
                 false);
}

void FleetConsole::progress(int index, qint64 done, qint64 total)
{
    Board &board = boards[index];
    board.done = done;
    board.total = total;
    const bool last = total > 0 && done >= total;
    if (format == Format::Json &&
        (last || !board.lastEvent.isValid() || board.lastEvent.elapsed() >= kProgressEventMs)) {
        board.lastEvent.start();
        const QJsonObject event{
            {"target", names.at(index)}, {"event", "progress"}, {"done", done}, {"total", total}};
        if (holdLines)
            writeJson(event, false);
        else
            writer.write(OutputWriter::Stream::Out,
                         QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n',
                         OutputWriter::Kind::Progress);
    }
    scheduleBoard();
}

void FleetConsole::finished(int index, FleetResult result, const UpdateFailure &failure, qint64 ms,
                            const QJsonObject &facts)
{
    boards[index].running = false;
    if (format == Format::Json) {
        QJsonObject event{{"target", names.at(index)},    {"event", "done"},
                          {"result", resultName(result)}, {"kind", UpdateFailure::kindName(failure.kind)},
                          {"reason", failure.text},       {"seconds", seconds(ms)}};
        for (auto fact = facts.begin(); fact != facts.end(); ++fact)
            event.insert(fact.key(), fact.value());
        writeJson(event);
    }
    scheduleBoard();
}

void FleetConsole::note(const QString &text)
{
    writer.write(OutputWriter::Stream::Err, textLine(QStringLiteral("plovikkit-flash: ") + text));
}

void FleetConsole::summary(const FleetRunner &runner, const QString &run)
{
    showBoard = false;
    holdLines = false;
    boardTimer.stop();
    // In one step: line by line, the writer would draw the board again between the lines.
    writer.setBoard(QByteArray(), QByteArray(), heldLines);
    heldLines.clear();
    if (format == Format::Json)
        writeJson({{"event", "summary"},
                   {"succeeded", runner.count(FleetResult::Success)},
                   {"failed", runner.count(FleetResult::Failed)},
                   {"skipped", runner.count(FleetResult::Skipped)},
                   {"dropped", writer.droppedLines() + droppedHeld},
                   {"seconds", seconds(runner.totalMs())},
                   {"run", run.isEmpty() ? QJsonValue() : QJsonValue(run)}});
    if (runner.size() > 1) {
        QString table = summaryTable(runner);
        if (!run.isEmpty())
            table += QStringLiteral("run: %1\n").arg(run);
        writer.write(OutputWriter::Stream::Err, table.toUtf8());
    }
    const qint64 dropped = writer.droppedLines() + droppedHeld;
    if (dropped > 0)
        note(QStringLiteral("%1 console lines dropped: standard output did not take them fast enough")
                 .arg(dropped));
}

QString FleetConsole::summaryTable(const FleetRunner &runner)
{
    int width = 6;
    for (int i = 0; i < runner.size(); ++i)
        width = qMax(width, TerminalText::width(TerminalText::escaped(runner.name(i))));
    const auto row = [width](const QString &name, const QString &result, const QString &time,
                             const QString &reason) {
        return QStringLiteral("%1  %2  %3  %4")
                   .arg(TerminalText::padded(TerminalText::escaped(name), width))
                   .arg(result, -7)
                   .arg(time, 8)
                   .arg(TerminalText::escaped(reason))
                   .trimmed() +
               QLatin1Char('\n');
    };
    QString table = row(QStringLiteral("TARGET"), QStringLiteral("RESULT"), QStringLiteral("TIME"),
                        QStringLiteral("REASON"));
    for (int i = 0; i < runner.size(); ++i)
        table += row(runner.name(i), resultName(runner.result(i)),
                     QString::number(seconds(runner.elapsedMs(i)), 'f', 1) + QLatin1Char('s'),
                     reasonText(runner.failure(i)));
    table += QStringLiteral("%1 succeeded, %2 failed, %3 skipped in %4 s\n")
                 .arg(runner.count(FleetResult::Success))
                 .arg(runner.count(FleetResult::Failed))
                 .arg(runner.count(FleetResult::Skipped))
                 .arg(seconds(runner.totalMs()), 0, 'f', 1);
    return table;
}

// The kind first, so that a reader of the table sees at a glance which failures are alike.
QString FleetConsole::reasonText(const UpdateFailure &failure)
{
    if (!failure.isFailure())
        return QString();
    return QStringLiteral("[%1] %2").arg(UpdateFailure::kindName(failure.kind), failure.text);
}

QString FleetConsole::boardLine(int index) const
{
    const Board &board = boards.at(index);
    return QStringLiteral("%1 %2").arg(
        TerminalText::escaped(names.at(index)),
        CliReporter::progressText(board.done, board.total, board.clock.elapsed(), 20));
}

// Never taller than the terminal (leaving the cursor's row), no line wider: a line that wraps
// would be taken off one row short.
QStringList FleetConsole::boardLines(int rows, int columns) const
{
    QList<int> running;
    for (int i = 0; i < boards.size(); ++i) {
        if (boards.at(i).running)
            running << i;
    }
    const int room = qMax(1, rows - 1);
    const int shown = running.size() > room ? room - 1 : running.size();
    QStringList lines;
    for (int i = 0; i < shown; ++i)
        lines << TerminalText::fitted(boardLine(running.at(i)), columns - 1);
    if (shown < running.size())
        lines << QStringLiteral("%1 %2 more").arg(QChar(0x2026)).arg(running.size() - shown);
    return lines;
}

// Drawn when something changed, at most every kBoardRedrawMs, by a timer armed only then.
void FleetConsole::scheduleBoard()
{
    if (!showBoard || boardTimer.isActive())
        return;
    const qint64 since = lastDraw.isValid() ? lastDraw.elapsed() : kBoardRedrawMs;
    boardTimer.start(int(qMax<qint64>(0, kBoardRedrawMs - since)));
}

void FleetConsole::drawBoard()
{
    lastDraw.start();
    const int errFd = fileno(stderr);
    const QStringList lines =
        boardLines(ConsoleStream::terminalRows(errFd), ConsoleStream::terminalColumns(errFd));
    QByteArray draw;
    for (const QString &line : lines)
        draw += "\x1b[K" + line.toUtf8() + '\n';
    const QByteArray erase =
        lines.isEmpty() ? QByteArray() : QStringLiteral("\x1b[%1A\x1b[J").arg(lines.size()).toLatin1();
    writer.setBoard(draw, erase, heldLines);
    heldLines.clear();
    heldBytes = 0;
}
