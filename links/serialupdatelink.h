#pragma once

#include "protocol/targetkind.h"
#include "update/queuedreplylink.h"

#include <QTimer>

class SerialChannel;

// The update session's way to a device on the serial port: frames and boot entry go to the
// port, replies come from the channel's reply queue as the channel cuts them.
class SerialUpdateLink : public QueuedReplyLink
{
    Q_OBJECT
public:
    SerialUpdateLink(SerialChannel &channel, TargetKind target, QObject *parent = nullptr);

    void setTarget(TargetKind kind) { target = kind; }
    TargetKind targetKind() const { return target; }
    SerialChannel &serialChannel() const { return channel; }

    void writeFrame(const QByteArray &frame) override;
    // A module gets its two commands, each followed by a short wait for its answer; a gateway
    // its boot text; a demo board nothing.
    void sendBootEntry() override;
    bool usesGateway() const override { return false; }
    QString unavailableReason() const override;
    QString whatToCheck() const override;
    void cancel() override;

protected:
    QByteArray takeReply() override;
    bool hasInput() const override;
    qint64 msUntilSent() const override;
    void traceWaitStart() const override;
    void traceWaitEnd(bool answered) const override;

private:
    void sendModuleCommand(int step);
    void onModuleAnswerOrTimeout();
    void finishModuleCommands();

    SerialChannel &channel;
    TargetKind target;
    // The module's boot entry: which command was sent last (-1: none in progress), and the
    // wait for its answer.
    int moduleStep = -1;
    quint64 receivedBeforeCommand = 0;
    QTimer moduleAnswerWait;
};
