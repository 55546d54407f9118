#include "cli/outputwriter.h"

#include "platform/consolestream.h"

#include <QMetaObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace {

// One write() takes at most this much of the queue, so that a board waits for no more.
constexpr int kBatchBytes = 64 * 1024;
constexpr int kOut = 0;
constexpr int kErr = 1;

} // namespace

// Shared with the thread, which may outlive the writer when it is blocked in a write at exit.
struct OutputWriter::State
{
    struct Item
    {
        int stream = kOut;
        QByteArray bytes;
        bool droppable = false;
    };

    enum class Next
    {
        Nothing,
        Queue,
        Board,
    };

    int fds[2] = {-1, -1};
    // Both streams lead to one file: one queue keeps their order.
    bool oneFile = false;
    // Whether an item of each stream reaches the board's terminal.
    bool coversBoard[2] = {false, false};
    // Wakes the thread from its wait for a stalled stdout when stderr has something to say.
    int wakeFds[2] = {-1, -1};
    bool canWake = false;

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<Item> queues[2];
    qint64 droppableBytes = 0;
    qint64 dropped = 0;
    QString errors[2];
    QByteArray boardDraw;
    QByteArray boardErase;
    QByteArray shownErase;
    bool boardChanged = false;
    bool boardShown = false;
    bool writing = false;
    bool waitingForOut = false;
    bool stopping = false;
    std::function<void()> onIdle;

    std::deque<Item> &queueOf(int stream) { return queues[oneFile ? kOut : stream]; }
    bool queued() const { return !queues[kOut].empty() || !queues[kErr].empty(); }
    bool boardDue() const { return boardChanged || (!boardShown && !boardDraw.isEmpty()); }
    bool idle() const { return !queued() && !boardDue() && !writing; }
    Next next() const;

    void push(Item item);
    void wakeFromOut();
    void run();
    QByteArray takeBatch(int stream, int maxBytes);
    QByteArray takeBoard();
    bool writeOut(QByteArray bytes, std::unique_lock<std::mutex> &lock);
    void writeBytes(int stream, const QByteArray &bytes);
};

// Standard error (and the board on it) first when the streams differ: a note must not wait for
// a stalled stdout reader. On one file the board comes after everything queued before it.
OutputWriter::State::Next OutputWriter::State::next() const
{
    if (!queues[kErr].empty() || (oneFile && queued()))
        return Next::Queue;
    if (boardDue())
        return Next::Board;
    return queued() ? Next::Queue : Next::Nothing;
}

void OutputWriter::State::push(Item item)
{
    if (item.droppable)
        droppableBytes += item.bytes.size();
    const bool forErr = item.stream == kErr;
    queueOf(item.stream).push_back(std::move(item));
    if (forErr)
        wakeFromOut();
    wake.notify_one();
}

void OutputWriter::State::wakeFromOut()
{
    if (waitingForOut && canWake)
        ConsoleStream::wake(wakeFds[1]);
}

QByteArray OutputWriter::State::takeBatch(int stream, int maxBytes)
{
    std::deque<Item> &queue = queueOf(stream);
    QByteArray batch;
    while (!queue.empty() && queue.front().stream == stream && batch.size() < maxBytes) {
        Item &item = queue.front();
        const int part = qMin(item.bytes.size(), maxBytes - batch.size());
        if (item.droppable)
            droppableBytes -= part;
        batch += item.bytes.left(part);
        item.bytes.remove(0, part);
        if (item.bytes.isEmpty())
            queue.pop_front();
    }
    return batch;
}

QByteArray OutputWriter::State::takeBoard()
{
    const QByteArray bytes = (boardShown ? shownErase : QByteArray()) + boardDraw;
    shownErase = boardErase;
    boardShown = !boardDraw.isEmpty();
    boardChanged = false;
    return bytes;
}

// Waits for stdout to take a pipe's atomic write, so that stderr gets its turn meanwhile; what
// was not written goes back to the front of the queue.
bool OutputWriter::State::writeOut(QByteArray bytes, std::unique_lock<std::mutex> &lock)
{
    waitingForOut = true;
    lock.unlock();
    const bool writable = ConsoleStream::waitWritable(fds[kOut], wakeFds[0]);
    if (writable)
        writeBytes(kOut, bytes);
    lock.lock();
    waitingForOut = false;
    if (!writable)
        queues[kOut].push_front({kOut, bytes, false});
    return writable;
}

void OutputWriter::State::writeBytes(int stream, const QByteArray &bytes)
{
    QString error;
    if (!errors[stream].isEmpty() ||
        ConsoleStream::writeAll(fds[stream], bytes.constData(), bytes.size(), &error))
        return;
    std::lock_guard<std::mutex> lock(mutex);
    errors[stream] = error;
}

void OutputWriter::State::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
        wake.wait(lock, [this] { return stopping || next() != Next::Nothing; });
        const Next what = next();
        if (what == Next::Nothing)
            return;
        writing = true;
        if (what == Next::Board) {
            const QByteArray bytes = takeBoard();
            lock.unlock();
            writeBytes(kErr, bytes);
            lock.lock();
        } else {
            const int stream = !queues[kErr].empty() ? kErr : queues[kOut].front().stream;
            const bool waitForOut = stream == kOut && !oneFile && canWake && errors[kOut].isEmpty();
            QByteArray bytes = takeBatch(stream, waitForOut ? ConsoleStream::kAtomicWriteBytes : kBatchBytes);
            if (boardShown && coversBoard[stream]) {
                bytes.prepend(shownErase);
                boardShown = false;
            }
            if (waitForOut) {
                writeOut(bytes, lock);
            } else {
                lock.unlock();
                writeBytes(stream, bytes);
                lock.lock();
            }
        }
        writing = false;
        if (idle() && onIdle)
            onIdle();
    }
}

OutputWriter::OutputWriter(int outFd, int errFd, QObject *parent)
    : QObject(parent), state(std::make_shared<State>())
{
    state->fds[kOut] = outFd;
    state->fds[kErr] = errFd;
    state->oneFile = ConsoleStream::sameFile(outFd, errFd);
    state->coversBoard[kErr] = ConsoleStream::isTerminal(errFd);
    state->coversBoard[kOut] = state->coversBoard[kErr] && state->oneFile;
    state->canWake = ConsoleStream::openWakePipe(state->wakeFds);
    state->onIdle = [this] { QMetaObject::invokeMethod(this, &OutputWriter::idle, Qt::QueuedConnection); };
    std::thread([shared = state] { shared->run(); }).detach();
}

OutputWriter::~OutputWriter()
{
    std::lock_guard<std::mutex> lock(state->mutex);
    state->onIdle = nullptr;
    state->stopping = true;
    state->wake.notify_one();
}

void OutputWriter::write(Stream stream, const QByteArray &bytes, Kind kind)
{
    const int index = stream == Stream::Out ? kOut : kErr;
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->errors[index].isEmpty())
        return;
    const bool droppable = kind != Kind::Kept;
    if (droppable && state->droppableBytes + bytes.size() > kCapacityBytes) {
        if (kind == Kind::Line)
            ++state->dropped;
        return;
    }
    state->push({index, bytes, droppable});
}

void OutputWriter::setBoard(const QByteArray &draw, const QByteArray &erase, const QByteArrayList &linesFirst)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    for (const QByteArray &line : linesFirst)
        state->push({kOut, line, false});
    state->boardDraw = draw;
    state->boardErase = erase;
    state->boardChanged = true;
    state->wakeFromOut();
    state->wake.notify_one();
}

bool OutputWriter::isIdle() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->idle();
}

qint64 OutputWriter::droppedLines() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->dropped;
}

QString OutputWriter::outError() const
{
    std::lock_guard<std::mutex> lock(state->mutex);
    return state->errors[kOut];
}
