#pragma once

#include "links/roundtripestimate.h"
#include "protocol/targetkind.h"
#include "update/queuedreplylink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QQueue>
#include <QString>
#include <QTimer>
#include <functional>

class BrokerSession;
class MqttConnection;

// The update session's way to a device behind a radio gateway: frames and the boot request
// are published to the gateway's topics, and every message the gateway publishes is queued
// and read on its own, so an answer is never lost to a message that arrived in the same
// moment. Many links share one broker session, which hands each its gateway's messages and
// keeps the subscriptions.
//
// An answer carries no packet number, so over a slow or stalled way each answer must stay with
// its frame: a reply wait lasts as long as the round trips measured say (RoundTripEstimate),
// and after a frame was sent more than once, the answers its earlier sends still owe are
// dropped when they come, before the next frame goes out, for as long as they could come.
class GatewayUpdateLink : public QueuedReplyLink
{
    Q_OBJECT
public:
    // A gateway that chatters while nobody waits cannot fill the memory.
    static constexpr int kMaxQueuedMessages = 256;
    static constexpr qint64 kMaxQueuedBytes = 1024 * 1024;
    // A bootloader frame is at most a few KiB as hexadecimal text; a larger message is no answer.
    static constexpr int kMaxAnswerMessageBytes = 64 * 1024;

    GatewayUpdateLink(BrokerSession &session, const QString &gatewayId, TargetKind target,
                      QObject *parent = nullptr);
    ~GatewayUpdateLink() override;

    // The window's choice of gateway may change between two calls.
    void setGatewayId(const QString &id);
    QString gatewayId() const { return id; }
    void setTarget(TargetKind kind) { target = kind; }

    // Receives, shortened, the text of every message that is JSON while a reply wait takes it;
    // of those that answer nothing, only as many as the session's bound lets through.
    void setConsole(std::function<void(const QString &)> console) { this->console = std::move(console); }

    void writeFrame(const QByteArray &frame) override;
    // Waits at least `timeoutMs`, longer when the round trips measured need it.
    void awaitReply(int timeoutMs) override;
    void cancel() override;
    // Only a gateway target is asked through the broker; a module's commands need the serial
    // port and a demo board asks by itself. Either way what came before is forgotten.
    void sendBootEntry() override;
    bool usesGateway() const override { return true; }
    // The gateway id cannot make a topic, or the broker is not connected.
    QString unavailableReason() const override;
    QString whatToCheck() const override;
    // Why the broker cannot carry frames now; empty while it can.
    QString brokerProblem() const;

    // What arrived before a connect attempt answers nothing that follows.
    void forgetReceived();
    // A message the gateway published (the session hands it over).
    void take(const QByteArray &message);
    qint64 queuedBytes() const { return receivedBytes; }

    // How long the last frame sent once took to be answered; negative before any answer.
    double lastRoundTripMs() const { return lastRoundTrip; }
    // Answers of earlier sends that may still come and will not be taken for a later frame's.
    int owedAnswers() const { return owed; }

    // A message as the console shows it: at most 64 bytes of it, and its size when longer.
    static QString consoleText(const QByteArray &message);

protected:
    QByteArray takeReply() override;
    bool hasInput() const override { return !received.isEmpty(); }
    void traceWaitStart() const override;
    void traceWaitEnd(bool answered) const override;
    void replyWaitTimedOut() override;

private:
    QByteArray replyIn(const QByteArray &message);
    MqttConnection &client() const;
    void sendNewFrame(const QByteArray &frame);
    void publishFrame(const QByteArray &frame);
    void startExchange();
    void takeAnswer();
    bool dropAsOwed(const QByteArray &reply);
    void openOwedWindow();
    void closeOwedWindow();
    bool owedWindowOpen() const { return owedDeadline.isActive(); }
    void dropOwedWhileHeld();
    void releaseHeldFrame();

    BrokerSession &session;
    QString id;
    TargetKind target;
    std::function<void(const QString &)> console;
    QQueue<QByteArray> received;
    qint64 receivedBytes = 0;
    QElapsedTimer sinceFrame;
    double lastRoundTrip = -1;
    RoundTripEstimate roundTrip;

    // The frame last sent, how often it went out, and whether one of its sends was answered;
    // each time-out of its waits leaves an answer owed.
    QByteArray frameSent;
    int sends = 0;
    bool answered = false;
    int owed = 0;
    int lastFixedWaitMs = 0;
    // While owed answers may still come, the next frame and its wait are held back, and the
    // single-shot deadline says when they no longer can.
    QTimer owedDeadline;
    QByteArray heldFrame;
    int heldWaitMs = -1;
};
