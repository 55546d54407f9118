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

struct Item
{
    QByteArray bytes;
    bool droppable = false;
};

} // namespace

// Shared with the thread, which may outlive the writer when it is blocked in a write at exit.
struct OutputWriter::State
{
    int fds[2] = {-1, -1};
    // Both streams lead to one file: one queue keeps their order.
    bool oneFile = false;
    // Whether an item of each stream reaches the board's terminal.
    bool coversBoard[2] = {false, false};

    mutable std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::pair<int, Item>> queues[2];
    qint64 droppableBytes = 0;
    qint64 dropped = 0;
    QString errors[2];
    QByteArray boardDraw;
    QByteArray boardErase;
    QByteArray shownErase;
    bool boardChanged = false;
    bool boardShown = false;
    bool writing = false;
    bool stopping = false;
    std::function<void()> onIdle;

    std::deque<std::pair<int, Item>> &queueOf(int stream) { return queues[oneFile ? 0 : stream]; }
    bool queued() const { return !queues[0].empty() || !queues[1].empty(); }
    bool boardDue() const { return boardChanged || (!boardShown && !boardDraw.isEmpty()); }
    bool idle() const { return !queued() && !boardDue() && !writing; }

    void run();
    QByteArray takeBatch(int *stream);
    void writeBytes(int stream, const QByteArray &bytes);
};

// Standard error first when the streams differ: a note must not wait for a stalled stdout reader.
QByteArray OutputWriter::State::takeBatch(int *stream)
{
    std::deque<std::pair<int, Item>> &queue = !queues[1].empty() ? queues[1] : queues[0];
    *stream = queue.front().first;
    QByteArray batch;
    while (!queue.empty() && queue.front().first == *stream &&
           (batch.isEmpty() || batch.size() + queue.front().second.bytes.size() <= kBatchBytes)) {
        const Item &item = queue.front().second;
        if (item.droppable)
            droppableBytes -= item.bytes.size();
        batch += item.bytes;
        queue.pop_front();
    }
    return batch;
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
        wake.wait(lock, [this] { return stopping || queued() || boardDue(); });
        if (stopping && !queued() && !boardDue())
            return;
        QByteArray bytes;
        int stream = 1;
        if (queued()) {
            bytes = takeBatch(&stream);
            if (boardShown && coversBoard[stream]) {
                bytes.prepend(shownErase);
                boardShown = false;
            }
        } else {
            bytes = (boardShown ? shownErase : QByteArray()) + boardDraw;
            shownErase = boardErase;
            boardShown = !boardDraw.isEmpty();
            boardChanged = false;
        }
        writing = true;
        lock.unlock();
        writeBytes(stream, bytes);
        lock.lock();
        writing = false;
        if (idle() && onIdle)
            onIdle();
    }
}

OutputWriter::OutputWriter(int outFd, int errFd, QObject *parent)
    : QObject(parent), state(std::make_shared<State>())
{
    state->fds[0] = outFd;
    state->fds[1] = errFd;
    state->oneFile = ConsoleStream::sameFile(outFd, errFd);
    state->coversBoard[1] = ConsoleStream::isTerminal(errFd);
    state->coversBoard[0] = state->coversBoard[1] && state->oneFile;
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
    const int index = stream == Stream::Out ? 0 : 1;
    std::lock_guard<std::mutex> lock(state->mutex);
    if (!state->errors[index].isEmpty())
        return;
    const bool droppable = kind != Kind::Kept;
    if (droppable && state->droppableBytes + bytes.size() > kCapacityBytes) {
        if (kind == Kind::Line)
            ++state->dropped;
        return;
    }
    if (droppable)
        state->droppableBytes += bytes.size();
    state->queueOf(index).push_back({index, {bytes, droppable}});
    state->wake.notify_one();
}

void OutputWriter::setBoard(const QByteArray &draw, const QByteArray &erase, const QByteArrayList &linesFirst)
{
    std::lock_guard<std::mutex> lock(state->mutex);
    for (const QByteArray &line : linesFirst)
        state->queueOf(0).push_back({0, {line, false}});
    state->boardDraw = draw;
    state->boardErase = erase;
    state->boardChanged = true;
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
    return state->errors[0];
}
