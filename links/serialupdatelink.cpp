#include "links/serialupdatelink.h"

#include "core/debugtrace.h"
#include "protocol/gatewaymessages.h"
#include "protocol/modulecommand.h"
#include "serial/serialchannel.h"

#include <QTime>

#define BOOT_TRACE() MAIN_TRACE_AS(lcUpdate, "sendBootCmd")

namespace {

// Time the module gets to answer each command before the next one.
constexpr int kModuleAnswerWaitMs = 100;

void traceTransfer(const char *tail)
{
    TRACE(lcUpdate) << "mySerialPort" << QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"))
                    << tail;
}

} // namespace

SerialUpdateLink::SerialUpdateLink(SerialChannel &channel, TargetKind target, QObject *parent)
    : QueuedReplyLink(parent), channel(channel), target(target)
{
    moduleAnswerWait.setSingleShot(true);
    connect(&moduleAnswerWait, &QTimer::timeout, this, &SerialUpdateLink::onModuleAnswerOrTimeout);
    connect(&channel, &SerialChannel::replyQueued, this, &SerialUpdateLink::inputArrived);
    connect(&channel, &SerialChannel::bytesReceived, this, [this] {
        if (moduleStep >= 0 && this->channel.receivedByteCount() != receivedBeforeCommand)
            onModuleAnswerOrTimeout();
    });
    connect(&channel, &SerialChannel::portOpenChanged, this, [this](bool open) {
        if (!open)
            emit becameUnavailable();
    });
}

void SerialUpdateLink::writeFrame(const QByteArray &frame)
{
    channel.send(frame);
}

void SerialUpdateLink::sendBootEntry()
{
    switch (target) {
    case TargetKind::Module:
        sendModuleCommand(0);
        return;
    case TargetKind::Gateway:
        channel.send(GatewayMessages::serialBootText());
        break;
    case TargetKind::DemoBoard:
        break;
    }
    emit bootEntryDone();
}

void SerialUpdateLink::sendModuleCommand(int step)
{
    moduleStep = step;
    channel.send(step == 0 ? ModuleCommand::configMode() : ModuleCommand::intoBoot());
    BOOT_TRACE() << (step == 0 ? "send config mode cmd" : "send into boot cmd");
    if (!channel.isPortOpen()) {
        finishModuleCommands();
        return;
    }
    receivedBeforeCommand = channel.receivedByteCount();
    moduleAnswerWait.start(int(channel.msUntilLineFree()) + kModuleAnswerWaitMs);
}

// The module answered (or had its time): the next command, or the boot entry is over.
void SerialUpdateLink::onModuleAnswerOrTimeout()
{
    moduleAnswerWait.stop();
    if (moduleStep == 0)
        sendModuleCommand(1);
    else
        finishModuleCommands();
}

void SerialUpdateLink::finishModuleCommands()
{
    moduleStep = -1;
    moduleAnswerWait.stop();
    // The module answers its two commands; those answers are not the bootloader's request,
    // which may already have come.
    channel.discardAllButFrames(QStringLiteral("in answer to the boot entry"));
    emit bootEntryDone();
}

void SerialUpdateLink::cancel()
{
    moduleStep = -1;
    moduleAnswerWait.stop();
    QueuedReplyLink::cancel();
}

QString SerialUpdateLink::unavailableReason() const
{
    return channel.unavailableReason();
}

QByteArray SerialUpdateLink::takeReply()
{
    return channel.takeQueuedReply();
}

bool SerialUpdateLink::hasInput() const
{
    return channel.hasReply();
}

qint64 SerialUpdateLink::msUntilSent() const
{
    return channel.msUntilLineFree();
}

void SerialUpdateLink::traceWaitStart() const
{
    traceTransfer("------------");
}

void SerialUpdateLink::traceWaitEnd(bool answered) const
{
    if (!answered)
        traceTransfer("time out------------");
}

QString SerialUpdateLink::whatToCheck() const
{
    return QStringLiteral(
               "check the target kind (%1), that the device is on %2 at %3 baud and that it is powered")
        .arg(TargetKindText::name(target), channel.portLocation())
        .arg(channel.baudRate());
}
