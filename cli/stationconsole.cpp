#include "cli/stationconsole.h"

#include "cli/clireporter.h"
#include "cli/outputwriter.h"
#include "cli/terminaltext.h"
#include "core/consoleline.h"
#include "platform/consolestream.h"
#include "station/stationcounters.h"

#include <QJsonDocument>
#include <cstdio>

namespace {

QByteArray textLine(const QString &text)
{
    return (TerminalText::escaped(text) + QLatin1Char('\n')).toUtf8();
}

QJsonValue orNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

// What a state change says in a console line and on the board, after the slot's name.
QString stateText(const StationSlotStatus &status)
{
    using State = StationSlotStatus::State;
    const QString twice = status.seenTwice ? QStringLiteral(" (address seen twice)") : QString();
    switch (status.state) {
    case State::Waiting:
        return status.reason.isEmpty() ? QStringLiteral("waiting")
                                       : QStringLiteral("waiting: ") + status.reason;
    case State::Busy:
        return QStringLiteral("busy ") + status.device + twice;
    case State::Pass:
        return QStringLiteral("PASS ") + status.device + twice;
    case State::Fail: {
        QString text = QStringLiteral("FAIL ") + (status.device.isEmpty() ? QString() : status.device + ' ') +
                       status.reason + twice;
        if (!status.whatToCheck.isEmpty())
            text += QStringLiteral(": ") + status.whatToCheck;
        return text;
    }
    case State::Remove:
        return QStringLiteral("done, remove the device ") + status.device;
    case State::Gone:
        return QStringLiteral("gone ") + status.device +
               (status.reason.isEmpty() ? QString() : ": " + status.reason);
    }
    return QString();
}

} // namespace

StationConsole::StationConsole(OutputWriter &writer, bool json, bool showBoard,
                               const StationCounters &counters)
    : writer(writer), json(json), counters(counters),
      board(writer, showBoard, [this](int rows, int columns) { return boardLines(rows, columns); })
{
}

void StationConsole::slotAdded(const QString &slot)
{
    if (!slotBoards.contains(slot))
        order << slot;
    slotBoards.insert(slot, Slot());
    board.changed();
}

void StationConsole::slotRemoved(const QString &slot)
{
    order.removeAll(slot);
    slotBoards.remove(slot);
    board.changed();
}

void StationConsole::slotState(const QString &slot, const StationSlotStatus &status)
{
    Slot &shown = slotBoards[slot];
    // A waiting slot's reason is news too: its port cannot be used, or can again.
    const bool stateChanged =
        shown.status.state != status.state || shown.status.reason != status.reason || !shown.clock.isValid();
    if (status.state == StationSlotStatus::State::Busy && shown.status.state != status.state) {
        shown.clock.start();
        shown.done = shown.total = 0;
    }
    shown.status = status;
    if (json) {
        if (stateChanged)
            board.writeJson({{"event", "slot"},
                             {"slot", slot},
                             {"state", StationSlotStatus::stateName(status.state)},
                             {"device", orNull(status.device)},
                             {"reason", orNull(status.reason)},
                             {"seen_twice", status.seenTwice}});
    } else {
        board.writeOut(textLine(QLatin1Char('[') + slot + QStringLiteral("] ") +
                                ConsoleLine::formatNow(stateText(status))),
                       true);
    }
    if (!shown.clock.isValid())
        shown.clock.start();
    board.changed();
}

void StationConsole::line(const QString &slot, const QString &text)
{
    if (json)
        board.writeJson({{"target", slot}, {"event", "line"}, {"text", text}}, false);
    else
        board.writeOut(
            textLine(QLatin1Char('[') + slot + QStringLiteral("] ") + ConsoleLine::formatNow(text)), false);
}

void StationConsole::progress(const QString &slot, qint64 done, qint64 total)
{
    Slot &shown = slotBoards[slot];
    shown.done = done;
    shown.total = total;
    board.changed();
}

void StationConsole::unit(const StationUnit &unit, const QString &record)
{
    if (json) {
        QJsonObject event{{"event", "unit"},
                          {"slot", unit.slot},
                          {"device", orNull(unit.device)},
                          {"result", StationUnit::resultName(unit.result)},
                          {"kind", UpdateFailure::kindName(unit.failure.kind)},
                          {"reason", unit.failure.text},
                          {"seconds", unit.seconds},
                          {"record", orNull(record)}};
        if (unit.seenTwice)
            event.insert("seen_twice", true);
        if (!unit.whatToCheck.isEmpty())
            event.insert("what_to_check", unit.whatToCheck);
        board.writeJson(event);
    }
    board.changed();
}

void StationConsole::note(const QString &text)
{
    board.note(text);
}

void StationConsole::summary(const QString &run)
{
    board.close();
    if (json)
        board.writeJson({{"event", "summary"},
                         {"run", orNull(run)},
                         {"passed", counters.passed()},
                         {"failed", counters.failed()},
                         {"skipped", counters.skipped()},
                         {"units_per_hour", counters.unitsPerHour()},
                         {"seconds", counters.runSeconds()},
                         {"yield", counters.yieldPercent()},
                         {"median_unit_seconds", counters.medianUnitSeconds()}});
    QString text = counterLines(counters).join(QLatin1Char('\n')) + QLatin1Char('\n');
    if (!run.isEmpty())
        text += QStringLiteral("run: %1\n").arg(run);
    writer.write(OutputWriter::Stream::Err, text.toUtf8());
    const qint64 dropped = board.droppedLines();
    if (dropped > 0)
        note(QStringLiteral("%1 console lines dropped: standard output did not take them fast enough")
                 .arg(dropped));
}

QStringList StationConsole::counterLines(const StationCounters &counters)
{
    QStringList lines{QStringLiteral("%1 passed  %2 failed  %3 skipped  yield %4 %  %5 units/h  median %6 s")
                          .arg(counters.passed())
                          .arg(counters.failed())
                          .arg(counters.skipped())
                          .arg(counters.yieldPercent(), 0, 'f', 1)
                          .arg(counters.unitsPerHour(), 0, 'f', 1)
                          .arg(counters.medianUnitSeconds(), 0, 'f', 1)};
    QStringList kinds;
    for (auto it = counters.failuresByKind().begin(); it != counters.failuresByKind().end(); ++it)
        kinds << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    if (!kinds.isEmpty())
        lines << QStringLiteral("failures: ") + kinds.join(QStringLiteral(", "));
    return lines;
}

QString StationConsole::slotLine(const QString &slot, const StationSlotStatus &status, qint64 done,
                                 qint64 total, qint64 busyMs)
{
    QString text = stateText(status);
    if (status.state == StationSlotStatus::State::Busy)
        text += QLatin1Char(' ') + CliReporter::progressText(done, total, busyMs, 20);
    return QStringLiteral("%1 %2").arg(TerminalText::escaped(slot), TerminalText::escaped(text));
}

// Never taller than the terminal, no line wider: a line that wraps would be taken off one row short.
QStringList StationConsole::boardLines(int terminalRows, int terminalColumns) const
{
    const int rows = qMax(3, terminalRows - 1);
    const int columns = terminalColumns - 1;
    QStringList lines = counterLines(counters);
    for (const QString &slot : qAsConst(order)) {
        if (lines.size() >= rows)
            break;
        const Slot &shown = slotBoards.value(slot);
        lines << slotLine(slot, shown.status, shown.done, shown.total,
                          shown.clock.isValid() ? shown.clock.elapsed() : 0);
    }
    for (QString &line : lines)
        line = TerminalText::fitted(line, columns);
    return lines;
}
