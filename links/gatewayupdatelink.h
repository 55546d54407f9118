#pragma once

#include "protocol/targetkind.h"
#include "update/queuedreplylink.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QQueue>
#include <QString>
#include <functional>

class BrokerSession;
class MqttConnection;

// The update session's way to a device behind a radio gateway: frames and the boot request
// are published to the gateway's topics, and every message the gateway publishes is queued
// and read on its own, so an answer is never lost to a message that arrived in the same
// moment. Many links share one broker session, which hands each its gateway's messages and
// keeps the subscriptions.
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

    // How long the last frame took to be answered; negative before any answer.
    double lastRoundTripMs() const { return lastRoundTrip; }

    // A message as the console shows it: at most 64 bytes of it, and its size when longer.
    static QString consoleText(const QByteArray &message);

protected:
    QByteArray takeReply() override;
    bool hasInput() const override { return !received.isEmpty(); }
    void traceWaitStart() const override;
    void traceWaitEnd(bool answered) const override;

private:
    QByteArray replyIn(const QByteArray &message);
    MqttConnection &client() const;

    BrokerSession &session;
    QString id;
    TargetKind target;
    std::function<void(const QString &)> console;
    QQueue<QByteArray> received;
    qint64 receivedBytes = 0;
    QElapsedTimer sinceFrame;
    double lastRoundTrip = -1;
};
