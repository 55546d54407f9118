#pragma once

#include "cli/terminalboard.h"
#include "station/stationslotstatus.h"
#include "station/stationunit.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class OutputWriter;
class StationCounters;

// The station's output: stdout carries each slot's console lines behind "[SLOT] " and a line per
// change of a slot's state, or with --json one JSON object a line (slot, unit, line, summary);
// stderr shows the board when it is a terminal: the counters, then one line per slot. The board
// is drawn only after something changed, at most every TerminalBoard::kRedrawMs.
class StationConsole
{
public:
    StationConsole(OutputWriter &writer, bool json, bool showBoard, const StationCounters &counters);

    void slotAdded(const QString &slot);
    void slotRemoved(const QString &slot);
    void slotState(const QString &slot, const StationSlotStatus &status);
    void line(const QString &slot, const QString &text);
    void progress(const QString &slot, qint64 done, qint64 total);
    void unit(const StationUnit &unit, const QString &record);
    void summary(const QString &run);
    // A line of the flasher's own on stderr.
    void note(const QString &text);

    // "12 passed  1 failed  0 skipped  yield 92.3 %  41.5 units/h  median 21.4 s" and, when any
    // failed, "failures: no-answer 1".
    static QStringList counterLines(const StationCounters &counters);
    // One slot's line of the board.
    static QString slotLine(const QString &slot, const StationSlotStatus &status, qint64 done, qint64 total,
                            qint64 busyMs);

private:
    struct Slot
    {
        StationSlotStatus status;
        qint64 done = 0;
        qint64 total = 0;
        QElapsedTimer clock;
    };

    QStringList boardLines(int terminalRows, int terminalColumns) const;

    OutputWriter &writer;
    bool json;
    const StationCounters &counters;
    QStringList order;
    QHash<QString, Slot> slotBoards;
    TerminalBoard board;
};
