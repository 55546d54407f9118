#pragma once

#include "update/fleetrunner.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>
#include <cstdio>

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
    static constexpr int kBoardRedrawMs = 100;

    FleetConsole(FILE *out, FILE *err, Format format, bool showBoard, const QStringList &targets);

    void started(int index);
    void line(int index, const QString &text);
    void progress(int index, qint64 done, qint64 total);
    void finished(int index, FleetResult result, const UpdateFailure &failure, qint64 ms);
    // The JSON summary event and, for more than one target, the table on stderr.
    void summary(const FleetRunner &runner);
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

    void writeOut(const QByteArray &line);
    void flushOut();
    void writeJson(const QJsonObject &object);
    void drawBoard(bool force);
    void eraseBoard();
    QString boardLine(int index) const;

    FILE *out;
    FILE *err;
    Format format;
    bool showBoard;
    bool outWanted = true;
    QStringList names;
    QVector<Board> boards;
    int boardLines = 0;
    QElapsedTimer lastDraw;
    // Into a file or a pipe the lines of one turn of the event loop go out in one write.
    bool outIsTerminal = false;
    QTimer flushTimer;
};
