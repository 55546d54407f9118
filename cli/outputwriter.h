#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QString>
#include <memory>

// The flasher's standard output and error, written by a thread of their own: a reader that
// stalls, a slow terminal or a full disk never holds up the sessions, nor the handling of a
// signal. Lines wait in a bounded buffer; when it is full, console lines and progress events
// are dropped (console lines counted), everything else is kept.
//
// Above what is written, stderr may show a board (a progress bar, a line per running target)
// that is taken off before anything else reaches that terminal and drawn again afterwards.
class OutputWriter : public QObject
{
    Q_OBJECT
public:
    enum class Stream
    {
        Out,
        Err
    };
    enum class Kind
    {
        Kept,
        Line,
        Progress
    };
    // Console lines and progress events held at most, in bytes.
    static constexpr qint64 kCapacityBytes = 1024 * 1024;

    OutputWriter(int outFd, int errFd, QObject *parent = nullptr);
    // Waits for nothing: a writer blocked in a write is left behind with what it holds.
    ~OutputWriter() override;

    void write(Stream stream, const QByteArray &bytes, Kind kind = Kind::Kept);
    // Replaces the board: `draw` is written after everything queued so far, and after `linesFirst`
    // on stdout, all taken as one: the board comes off the screen once for them. `erase` takes
    // it off again.
    void setBoard(const QByteArray &draw, const QByteArray &erase, const QByteArrayList &linesFirst = {});

    bool isIdle() const;
    qint64 droppedLines() const;
    // Why standard output could not be written; empty while it could.
    QString outError() const;

signals:
    // Everything queued so far is written (or could not be); emitted on the caller's thread.
    void idle();

private:
    struct State;
    std::shared_ptr<State> state;
};
