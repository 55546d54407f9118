#pragma once

#include "cli/terminalboard.h"
#include "update/fleetrunner.h"

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

class OutputWriter;

// The flasher's output when it updates several targets, or writes JSON: stdout carries every
// target's console lines, each behind "[TARGET] ", or one JSON object a line; stderr a live
// board with a line per running target (when it is a terminal) and, at the end, a summary.
class FleetConsole
{
public:
    enum class Format
    {
        Prefixed,
        Json,
    };
    // JSON progress events of one target come at most this often.
    static constexpr int kProgressEventMs = 250;

    FleetConsole(OutputWriter &writer, Format format, bool showBoard, const QStringList &targets);

    void started(int index);
    void line(int index, const QString &text);
    void progress(int index, qint64 done, qint64 total);
    // `facts` go into the JSON done event as well (the device, the image, the record).
    void finished(int index, FleetResult result, const UpdateFailure &failure, qint64 ms,
                  const QJsonObject &facts = {});
    // The JSON summary event and, for more than one target, the table on stderr; both name the
    // run of the update record when there is one.
    void summary(const FleetRunner &runner, const QString &run = {});
    // A line of the flasher's own on stderr ("stopped by signal 15").
    void note(const QString &text);

    static QString resultName(FleetResult result);
    static QString summaryTable(const FleetRunner &runner);
    static QString reasonText(const UpdateFailure &failure);

private:
    struct Board
    {
        bool running = false;
        qint64 done = 0;
        qint64 total = 0;
        QElapsedTimer clock;
        QElapsedTimer lastEvent;
    };

    QStringList boardLines(int rows, int columns) const;
    QString boardLine(int index) const;

    OutputWriter &writer;
    Format format;
    QStringList names;
    QVector<Board> boards;
    TerminalBoard board;
};
