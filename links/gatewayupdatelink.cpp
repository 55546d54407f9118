#include "links/gatewayupdatelink.h"

#include "core/debugtrace.h"
#include "links/brokersession.h"
#include "protocol/bootframe.h"
#include "protocol/gatewaymessages.h"
#include "update/updatesession.h"

#define WAIT_TRACE() MAIN_TRACE_AS(lcUpdate, "waitRecvData")

namespace {

constexpr int kConsoleMessageBytes = 64;

} // namespace

GatewayUpdateLink::GatewayUpdateLink(BrokerSession &session, const QString &gatewayId, TargetKind target,
                                     QObject *parent)
    : QueuedReplyLink(parent), session(session), id(gatewayId), target(target)
{
    session.attach(this, id);
    connect(&client(), &MqttConnection::disconnected, this, &GatewayUpdateLink::becameUnavailable);
    // A device that stays silent may stand for a broker that does.
    connect(this, &UpdateLink::replyTimedOut, &session, &BrokerSession::checkAnswering);
    owedDeadline.setSingleShot(true);
    owedDeadline.setTimerType(Qt::PreciseTimer);
    connect(&owedDeadline, &QTimer::timeout, this, [this] {
        closeOwedWindow();
        releaseHeldFrame();
    });
}

GatewayUpdateLink::~GatewayUpdateLink()
{
    session.detach(this, id);
}

MqttConnection &GatewayUpdateLink::client() const
{
    return session.connection();
}

void GatewayUpdateLink::setGatewayId(const QString &gatewayId)
{
    if (gatewayId == id)
        return;
    session.detach(this, id);
    id = gatewayId;
    session.attach(this, id);
    forgetReceived();
    startExchange();
}

void GatewayUpdateLink::take(const QByteArray &message)
{
    if (message.size() > kMaxAnswerMessageBytes) {
        WAIT_TRACE() << "mqtt message of" << message.size() << "bytes from" << id << "is no answer, dropped";
        return;
    }
    while (!received.isEmpty() &&
           (received.size() >= kMaxQueuedMessages || receivedBytes + message.size() > kMaxQueuedBytes))
        receivedBytes -= received.dequeue().size();
    received.enqueue(message);
    receivedBytes += message.size();
    if (heldFrame.isEmpty())
        inputArrived();
    else
        dropOwedWhileHeld();
}

void GatewayUpdateLink::forgetReceived()
{
    received.clear();
    receivedBytes = 0;
}

// A frame sent again after its wait timed out goes out at once: any of its answers will do.
// Another frame waits while the answers owed by the last one may still come.
void GatewayUpdateLink::writeFrame(const QByteArray &frame)
{
    if (frame == frameSent && !answered) {
        ++sends;
        publishFrame(frame);
        return;
    }
    if (owed > 0 && !owedWindowOpen() && !answered)
        openOwedWindow();
    if (owedWindowOpen()) {
        WAIT_TRACE() << "frame held back until" << owed << "late answers came";
        heldFrame = frame;
        heldWaitMs = -1;
        return;
    }
    sendNewFrame(frame);
}

void GatewayUpdateLink::sendNewFrame(const QByteArray &frame)
{
    frameSent = frame;
    sends = 1;
    answered = false;
    owed = 0;
    publishFrame(frame);
}

// What came before a frame answers nothing that follows it.
void GatewayUpdateLink::publishFrame(const QByteArray &frame)
{
    forgetReceived();
    sinceFrame.start();
    client().publish(GatewayMessages::firmwarePushTopic(id), GatewayMessages::firmwarePushMessage(id, frame));
}

void GatewayUpdateLink::awaitReply(int timeoutMs)
{
    lastFixedWaitMs = timeoutMs;
    const int waitMs = roundTrip.waitMs(timeoutMs);
    if (!heldFrame.isEmpty())
        heldWaitMs = waitMs;
    else
        QueuedReplyLink::awaitReply(waitMs);
}

void GatewayUpdateLink::cancel()
{
    heldFrame.clear();
    heldWaitMs = -1;
    closeOwedWindow();
    QueuedReplyLink::cancel();
}

// Nothing sent before a connect attempt is answered after it.
void GatewayUpdateLink::startExchange()
{
    heldFrame.clear();
    heldWaitMs = -1;
    closeOwedWindow();
    frameSent.clear();
    sends = 0;
    answered = false;
    roundTrip.resetBackOff();
}

void GatewayUpdateLink::replyWaitTimedOut()
{
    if (frameSent.isEmpty() || answered)
        return;
    ++owed;
    roundTrip.backOff();
}

// The first answer after a frame is its answer, whichever of its sends it belongs to.
void GatewayUpdateLink::takeAnswer()
{
    if (frameSent.isEmpty() || answered)
        return;
    answered = true;
    if (sends == 1) {
        lastRoundTrip = double(sinceFrame.nsecsElapsed()) / 1e6;
        roundTrip.addSample(lastRoundTrip);
    }
    if (owed > 0)
        openOwedWindow();
}

// Owed answers can come until the last send's wait, doubled after its time-out, would have
// ended.
void GatewayUpdateLink::openOwedWindow()
{
    const qint64 left = roundTrip.waitMs(lastFixedWaitMs) - sinceFrame.elapsed();
    if (left <= 0) {
        owed = 0;
        return;
    }
    owedDeadline.start(int(left));
}

void GatewayUpdateLink::closeOwedWindow()
{
    owed = 0;
    owedDeadline.stop();
}

// A SPLIT LEN request answers no frame: the device sends it on its own, so it is never owed.
bool GatewayUpdateLink::dropAsOwed(const QByteArray &reply)
{
    if (!owedWindowOpen() || UpdateSession::replyCommand(reply) == BootCmd::SplitLen)
        return false;
    if (console)
        console(QStringLiteral("late answer of an earlier send, not taken: ") +
                QString::fromLatin1(reply.toHex()));
    if (--owed == 0)
        closeOwedWindow();
    return true;
}

void GatewayUpdateLink::dropOwedWhileHeld()
{
    while (!received.isEmpty() && owedWindowOpen()) {
        const QByteArray message = received.dequeue();
        receivedBytes -= message.size();
        const QByteArray reply = replyIn(message);
        if (!reply.isEmpty())
            dropAsOwed(reply);
    }
    if (!owedWindowOpen())
        releaseHeldFrame();
}

void GatewayUpdateLink::releaseHeldFrame()
{
    if (heldFrame.isEmpty())
        return;
    const QByteArray frame = heldFrame;
    const int waitMs = heldWaitMs;
    heldFrame.clear();
    heldWaitMs = -1;
    sendNewFrame(frame);
    if (waitMs >= 0)
        QueuedReplyLink::awaitReply(waitMs);
}

// A connect attempt starts the exchange: what came before (an earlier session's answers, a
// demo board's old request) answers nothing, also when nothing is published now.
void GatewayUpdateLink::sendBootEntry()
{
    forgetReceived();
    startExchange();
    if (target == TargetKind::Gateway)
        client().publish(GatewayMessages::bootTopic(id), GatewayMessages::bootMessage());
    emit bootEntryDone();
}

QByteArray GatewayUpdateLink::takeReply()
{
    while (!received.isEmpty()) {
        const QByteArray message = received.dequeue();
        receivedBytes -= message.size();
        const QByteArray reply = replyIn(message);
        if (reply.isEmpty() || dropAsOwed(reply))
            continue;
        takeAnswer();
        return reply;
    }
    return QByteArray();
}

QByteArray GatewayUpdateLink::replyIn(const QByteArray &message)
{
    const GatewayMessages::Packet packet = GatewayMessages::readPacket(message);
    if (!packet.found) {
        if (packet.isJson && console)
            session.showChatter(id, consoleText(message), console);
        return QByteArray();
    }
    if (console)
        console(consoleText(message));
    WAIT_TRACE() << "get mqtt pacekt: " << packet.text;
    return packet.frame;
}

QString GatewayUpdateLink::consoleText(const QByteArray &message)
{
    if (message.size() <= kConsoleMessageBytes)
        return QString::fromUtf8(message);
    return QStringLiteral("%1... (%2 bytes)")
        .arg(QString::fromUtf8(message.left(kConsoleMessageBytes)))
        .arg(message.size());
}

void GatewayUpdateLink::traceWaitStart() const
{
    WAIT_TRACE() << "get mqtt message start------------\n";
}

void GatewayUpdateLink::traceWaitEnd(bool answered) const
{
    Q_UNUSED(answered)
    WAIT_TRACE() << "get mqtt message end------------\n";
}

QString GatewayUpdateLink::unavailableReason() const
{
    const QString problem = GatewayMessages::gatewayIdProblem(id);
    return problem.isEmpty() ? brokerProblem() : problem;
}

QString GatewayUpdateLink::brokerProblem() const
{
    if (client().state() == MqttConnection::Connected)
        return QString();
    const QString why = client().errorString();
    return why.isEmpty() ? QStringLiteral("the MQTT broker is not connected")
                         : QStringLiteral("the MQTT broker is not connected: ") + why;
}

QString GatewayUpdateLink::whatToCheck() const
{
    return QStringLiteral(
               "check the target kind (%1), that %2 is the gateway's id, that the gateway is online "
               "and that the device is powered")
        .arg(TargetKindText::name(target), id);
}
