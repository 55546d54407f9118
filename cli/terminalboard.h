#pragma once

#include <QByteArrayList>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class OutputWriter;

// The live board a terminal shows on stderr under the console lines of stdout. Console lines for
// a terminal that also shows the board are held and go out with its next drawing, which takes the
// board off once for all of them; the board is drawn only after a change, at most every kRedrawMs,
// so a terminal gets a few screens a second however many lines and targets there are.
class TerminalBoard
{
public:
    static constexpr int kRedrawMs = 250;
    // The board's lines for a terminal of `rows` × `columns`: never taller, no line wider.
    using Lines = std::function<QStringList(int rows, int columns)>;

    TerminalBoard(OutputWriter &writer, bool show, Lines lines);

    // Whoever read stdout may have gone (`| head`): the work still runs to its end, so that no
    // device is left half-written, and only the lines are dropped. A kept line never is.
    void writeOut(const QByteArray &line, bool kept);
    void writeJson(const QJsonObject &object, bool kept = true);
    bool holdsLines() const { return holdLines; }
    // Something the board shows changed.
    void changed();
    // The board comes off for good; the held lines go out in one step, since line by line the
    // writer would draw the board again between them.
    void close();
    // Console lines stdout did not take, here and in the writer.
    qint64 droppedLines() const;
    // A line of the flasher's own on stderr.
    void note(const QString &text);

private:
    void draw();

    OutputWriter &writer;
    bool show;
    Lines lines;
    bool holdLines;
    QByteArrayList heldLines;
    qint64 heldBytes = 0;
    qint64 droppedHeld = 0;
    QElapsedTimer lastDraw;
    QTimer redrawTimer;
};
