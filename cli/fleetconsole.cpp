#include "cli/fleetconsole.h"

#include "cli/clireporter.h"
#include "core/consoleline.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <unistd.h>

namespace {

double seconds(qint64 ms)
{
    return double(ms) / 1000.0;
}

} // namespace

FleetConsole::FleetConsole(FILE *out, FILE *err, Format format, bool showBoard, const QStringList &targets)
    : out(out), err(err), format(format), showBoard(showBoard), names(targets), boards(targets.size()),
      outIsTerminal(isatty(fileno(out)))
{
    flushTimer.setSingleShot(true);
    QObject::connect(&flushTimer, &QTimer::timeout, [this] { flushOut(); });
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
void FleetConsole::writeOut(const QByteArray &line)
{
    if (!outWanted)
        return;
    if (!outIsTerminal) {
        fputs(line.constData(), out);
        fputc('\n', out);
        if (!flushTimer.isActive())
            flushTimer.start(0);
        return;
    }
    eraseBoard();
    fputs(line.constData(), out);
    fputc('\n', out);
    flushOut();
    drawBoard(true);
}

void FleetConsole::flushOut()
{
    if (outWanted && (fflush(out) != 0 || ferror(out)))
        outWanted = false;
}

void FleetConsole::writeJson(const QJsonObject &object)
{
    writeOut(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

void FleetConsole::started(int index)
{
    Board &board = boards[index];
    board.running = true;
    board.clock.start();
    if (format == Format::Json)
        writeJson({{"target", names.at(index)}, {"event", "start"}});
    else
        drawBoard(true);
}

void FleetConsole::line(int index, const QString &text)
{
    if (format == Format::Json)
        writeJson({{"target", names.at(index)}, {"event", "line"}, {"text", text}});
    else
        writeOut((QLatin1Char('[') + names.at(index) + QStringLiteral("] ") + ConsoleLine::formatNow(text))
                     .toUtf8());
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
        writeJson({{"target", names.at(index)}, {"event", "progress"}, {"done", done}, {"total", total}});
        return;
    }
    drawBoard(false);
}

void FleetConsole::finished(int index, FleetResult result, const UpdateFailure &failure, qint64 ms)
{
    boards[index].running = false;
    if (format == Format::Json)
        writeJson({{"target", names.at(index)},
                   {"event", "done"},
                   {"result", resultName(result)},
                   {"kind", UpdateFailure::kindName(failure.kind)},
                   {"reason", failure.text},
                   {"seconds", seconds(ms)}});
    else
        drawBoard(true);
}

void FleetConsole::note(const QString &text)
{
    eraseBoard();
    fprintf(err, "plovikkit-flash: %s\n", text.toLocal8Bit().constData());
    fflush(err);
    drawBoard(true);
}

void FleetConsole::summary(const FleetRunner &runner)
{
    flushOut();
    eraseBoard();
    showBoard = false;
    if (format == Format::Json)
        writeJson({{"event", "summary"},
                   {"succeeded", runner.count(FleetResult::Success)},
                   {"failed", runner.count(FleetResult::Failed)},
                   {"skipped", runner.count(FleetResult::Skipped)},
                   {"seconds", seconds(runner.totalMs())}});
    flushOut();
    if (runner.size() > 1) {
        fputs(summaryTable(runner).toLocal8Bit().constData(), err);
        fflush(err);
    }
}

QString FleetConsole::summaryTable(const FleetRunner &runner)
{
    int width = 6;
    for (int i = 0; i < runner.size(); ++i)
        width = qMax(width, runner.name(i).size());
    const auto row = [width](const QString &name, const QString &result, const QString &time,
                             const QString &reason) {
        return QStringLiteral("%1  %2  %3  %4")
                   .arg(name, -width)
                   .arg(result, -7)
                   .arg(time, 8)
                   .arg(reason)
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
        names.at(index), CliReporter::progressText(board.done, board.total, board.clock.elapsed(), 20));
}

// Redrawn as progress comes, at most every kBoardRedrawMs unless something started or ended:
// no timer wakes the flasher for it.
void FleetConsole::drawBoard(bool force)
{
    if (!showBoard || (!force && lastDraw.isValid() && lastDraw.elapsed() < kBoardRedrawMs))
        return;
    lastDraw.start();
    QString text;
    int lines = 0;
    for (int i = 0; i < boards.size(); ++i) {
        if (!boards.at(i).running)
            continue;
        text += QStringLiteral("\x1b[K") + boardLine(i) + QLatin1Char('\n');
        ++lines;
    }
    if (boardLines > 0)
        text.prepend(QStringLiteral("\x1b[%1A\x1b[J").arg(boardLines));
    boardLines = lines;
    fputs(text.toUtf8().constData(), err);
    fflush(err);
}

void FleetConsole::eraseBoard()
{
    if (!showBoard || boardLines == 0)
        return;
    fprintf(err, "\x1b[%dA\x1b[J", boardLines);
    fflush(err);
    boardLines = 0;
}
