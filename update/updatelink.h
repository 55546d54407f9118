#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QtGlobal>

// What the update session needs from the way to one device: send a frame, ask the device into
// its bootloader, and wait for the answer, all without ever waiting in place. A wait is
// started and returns at once; it ends with replyReceived, replyTimedOut or, when the way to
// the device is gone, becameUnavailable. So any number of sessions share one thread.
//
// The serial and the gateway link, the window's link that picks one of them per call and
// the tests' in-process device are siblings behind this interface.
class UpdateLink : public QObject
{
    Q_OBJECT
public:
    explicit UpdateLink(QObject *parent = nullptr);
    ~UpdateLink() override;

    // Sends one bootloader frame, unchanged. What arrived before it answers nothing.
    virtual void writeFrame(const QByteArray &frame) = 0;
    // Asks the device to enter its bootloader (nothing for a demo board); bootEntryDone follows,
    // possibly before this returns.
    virtual void sendBootEntry() = 0;
    // Waits for the next reply: replyReceived once one is there, replyTimedOut when none came
    // within `timeoutMs` (counted from when the last frame has left the line). Never emits
    // before it returns, so the caller's state is settled when the answer comes.
    virtual void awaitReply(int timeoutMs) = 0;
    // True when the frames travel through a gateway, which needs longer waits.
    virtual bool usesGateway() const = 0;
    // Why no frame can travel now (port closed or lost, broker down); empty while it can.
    virtual QString unavailableReason() const { return QString(); }
    // What to check when the device never answers: the target kind, the way to it, its power.
    virtual QString whatToCheck() const { return QString(); }

    // Pauses, then pauseDone.
    virtual void pause(qint64 ms);
    // Ends a wait, a pause or a boot entry without any signal.
    virtual void cancel();

signals:
    void replyReceived(const QByteArray &reply);
    void replyTimedOut();
    void bootEntryDone();
    void pauseDone();
    // The port closed or was lost, the broker went away: unavailableReason() says why.
    void becameUnavailable();

private:
    QTimer pauseTimer;
};
