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
    : writer(writer), format(format), names(targets), boards(targets.size()),
      board(writer, showBoard, [this](int rows, int columns) { return boardLines(rows, columns); })
{
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

void FleetConsole::started(int index)
{
    Board &shown = boards[index];
    shown.running = true;
    shown.clock.start();
    if (format == Format::Json)
        board.writeJson({{"target", names.at(index)}, {"event", "start"}});
    board.changed();
}

void FleetConsole::line(int index, const QString &text)
{
    if (format == Format::Json)
        board.writeJson({{"target", names.at(index)}, {"event", "line"}, {"text", text}}, false);
    else
        board.writeOut(textLine(QLatin1Char('[') + names.at(index) + QStringLiteral("] ") +
                                ConsoleLine::formatNow(text)),
                       false);
}

void FleetConsole::progress(int index, qint64 done, qint64 total)
{
    Board &shown = boards[index];
    shown.done = done;
    shown.total = total;
    const bool last = total > 0 && done >= total;
    if (format == Format::Json &&
        (last || !shown.lastEvent.isValid() || shown.lastEvent.elapsed() >= kProgressEventMs)) {
        shown.lastEvent.start();
        const QJsonObject event{
            {"target", names.at(index)}, {"event", "progress"}, {"done", done}, {"total", total}};
        if (board.holdsLines())
            board.writeJson(event, false);
        else
            writer.write(OutputWriter::Stream::Out,
                         QJsonDocument(event).toJson(QJsonDocument::Compact) + '\n',
                         OutputWriter::Kind::Progress);
    }
    board.changed();
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
        board.writeJson(event);
    }
    board.changed();
}

void FleetConsole::note(const QString &text)
{
    board.note(text);
}

void FleetConsole::summary(const FleetRunner &runner, const QString &run)
{
    board.close();
    if (format == Format::Json)
        board.writeJson({{"event", "summary"},
                         {"succeeded", runner.count(FleetResult::Success)},
                         {"failed", runner.count(FleetResult::Failed)},
                         {"skipped", runner.count(FleetResult::Skipped)},
                         {"dropped", board.droppedLines()},
                         {"seconds", seconds(runner.totalMs())},
                         {"run", run.isEmpty() ? QJsonValue() : QJsonValue(run)}});
    if (runner.size() > 1) {
        QString table = summaryTable(runner);
        if (!run.isEmpty())
            table += QStringLiteral("run: %1\n").arg(run);
        writer.write(OutputWriter::Stream::Err, table.toUtf8());
    }
    const qint64 dropped = board.droppedLines();
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
    const Board &shown = boards.at(index);
    return QStringLiteral("%1 %2").arg(
        TerminalText::escaped(names.at(index)),
        CliReporter::progressText(shown.done, shown.total, shown.clock.elapsed(), 20));
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
