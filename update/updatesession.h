#pragma once

#include "protocol/bootframe.h"
#include "update/updatefailure.h"
#include "update/updatestats.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <functional>

class UpdateLink;
class UpdateReporter;

// How one update ended. Only Success prints a verdict in the console; every other ending
// is visible through the console lines that led to it.
enum class UpdateOutcome
{
    Success,    // FIRMWARE OVER answered by RETURN SUCCESS
    Failed,     // ran and ended in any other way (with the timing report)
    EmptyImage, // nothing to send: no report
    Busy,       // another update was still running
    Skipped,    // the device gate declined the device after SPLIT LEN; nothing of the image was sent
};
Q_DECLARE_METATYPE(UpdateOutcome)

// One firmware update from start to end: boot entry, the device's parameters, the image
// split by split and packet by packet, the check of each split and the closing frame.
// It talks only to a link and a reporter, so the window, the command-line flasher and the
// tests all drive the same exchange.
//
// The session never waits in place: it writes a frame, asks its link for the answer and
// returns; the answer, its time-out, the link's loss or an abort moves it to its next step.
// Any number of sessions run side by side on one thread.
class UpdateSession : public QObject
{
    Q_OBJECT
public:
    // The exchange's fixed waits and limits.
    // The most connect attempts, and the number a session makes unless told otherwise.
    static constexpr int kConnectAttempts = 10;
    static constexpr int kSplitLenWaitSerialMs = 2000;
    static constexpr int kSplitLenWaitGatewayMs = 20000;
    static constexpr int kFirmwareLenWaitMs = 5000;
    static constexpr int kPacketWaitMs = 1000;
    static constexpr int kCheckWaitMs = 5000;
    static constexpr int kOverWaitMs = 5000;
    static constexpr int kLastAllowedTimeout = 2; // the time-out after this count ends the session
    // A device that keeps refusing would otherwise hold the session forever.
    static constexpr int kMaxPacketRepeats = 10;
    static constexpr int kMaxSplitRewinds = 10;
    static constexpr int kMaxResynchronisations = 10;
    static constexpr qint64 kMaxImageBytes = BootFrame::kMaxImageBytes;

    UpdateSession(UpdateLink &link, UpdateReporter &reporter, QObject *parent = nullptr);
    ~UpdateSession() override;

    // Starts an update of `image` and returns at once; finished() follows when it has ended.
    // An empty image ends at once with EmptyImage and no report. A non-empty `problem` names
    // why there is no image at all: the session then only reports it. False, with a console
    // line, while a session is still running.
    bool start(const QByteArray &image, const QString &problem = QString());
    // Starts an update and runs the caller's event loop until it has ended.
    UpdateOutcome run(const QByteArray &image, const QString &problem = QString());

    // How many times the device is asked into its bootloader before the session gives up,
    // 1 to kConnectAttempts; takes effect at the next start.
    void setConnectAttempts(int attempts);
    int connectAttempts() const { return connectAttemptLimit; }

    // Asked once the device has named itself with SPLIT LEN, before FIRMWARE LEN: an empty answer
    // lets the update go on, any other ends the session as Skipped with that text as its reason
    // (kind AlreadyDone). The device then stays in its bootloader. Unset: every device is updated.
    using DeviceGate = std::function<QString(const QString &address)>;
    void setDeviceGate(DeviceGate gate) { deviceGate = std::move(gate); }

    // What this session learnt and counted so far (or in its last run).
    UpdateStats stats() const;

    // True while this session runs; a second start of it is refused.
    bool isRunning() const { return running; }
    // Ends the running session at once, its current wait included, with the text of `why` as
    // the console line before the report and its kind (a user's or a signal's stop) as the
    // failure's. Does nothing when the session is not running.
    void requestAbort(const UpdateFailure &why);
    UpdateOutcome outcome() const { return result; }
    // Why the last run did not succeed; of kind None after a success.
    const UpdateFailure &failure() const { return ending; }
    QString failureReason() const { return ending.text; }

    // The elapsed time of the closing report: "%1ms(%2min %3sec %4msec)".
    static QString formatElapsed(qint64 elapsedMs);

    // Traces the return code of a reply that is a valid 5-byte RETURN FAIL frame.
    static void consoleReturnCode(const QByteArray &reply);
    // The command byte of a reply that is a whole bootloader frame (its length field and
    // CRC hold); -1 for anything else, which answers no frame.
    static int replyCommand(const QByteArray &reply);
    // The failure reason for a frame answered otherwise than `expected`: "FIRMWARE LEN
    // refused by the device: FIRMWARE LEN ERROR", "... answered with FIRMWARE CONTINUE ...".
    static QString refusal(const QString &frame, const QString &expected, const QByteArray &reply);

signals:
    // SPLIT LEN named the device: its address as 8 upper-case hexadecimal digits.
    void deviceAnnounced(const QString &address);
    void finished(UpdateOutcome outcome);

private:
    enum class State
    {
        Idle,
        Connect,
        Resynchronise,
        Parameters,
        Announce,
        Transfer,
        Check,
        Finish,
        Report,
    };

    // Sending side of each state: what it writes before it waits.
    void enter(State next);
    void beginConnectAttempt();
    QString noRequestReason() const;
    void sendFirmwareLen();
    void sendPacket();
    void sendCheck();
    void sendOver();
    void awaitReply(int timeoutMs);

    // Receiving side: the reply of the state's wait, empty after a time-out.
    void onReply(const QByteArray &reply);
    bool isLateAnswer(const QByteArray &reply) const;
    void awaitOverAnswerStill(const QByteArray &lateReply);
    bool isRepeatedAnnouncement(const QByteArray &reply) const;
    void awaitRequestStill(const QByteArray &repeat);
    void onTimeout();
    void onBootEntryDone();
    void onPauseDone();
    void onLinkUnavailable();
    void endHalted();
    State answerOf(const QByteArray &reply);
    State connectAnswer(const QByteArray &reply);
    State resynchroniseAnswer(const QByteArray &reply);
    State announceAnswer(const QByteArray &reply);
    State transferAnswer(const QByteArray &reply);
    State checkAnswer(const QByteArray &reply);
    State overAnswer(const QByteArray &reply);

    bool halted();
    int splitLenWaitMs() const;
    State fail(UpdateFailure::Kind kind, const QString &reason);
    UpdateFailure::Kind unavailableKind() const;
    State takeParameters();
    bool takeSplitLenRequest(const QByteArray &reply);
    bool parametersUsable();
    bool gateDeclines(const QString &address);
    void padImage();
    void startTransfer();
    void restartSplit();
    State splitStart() const;
    State rewindSplit();
    State resynchronise();
    void acknowledgePacket();
    QByteArray currentSplit() const;
    QByteArray currentPacketData() const;
    QByteArray buildPacketFrame(const QByteArray &data) const;
    QByteArray buildCheckFrame() const;
    void sendFrame(const QByteArray &frame);
    void consoleReply(const QByteArray &reply);
    void report();
    void end(UpdateOutcome outcome);

    UpdateLink &link;
    UpdateReporter &reporter;
    bool running = false;
    int connectAttemptLimit = kConnectAttempts;
    DeviceGate deviceGate;
    UpdateFailure abortCause;
    UpdateFailure ending;
    UpdateOutcome result = UpdateOutcome::Failed;

    // Values of the running session.
    State state = State::Idle;
    QElapsedTimer clock;
    QByteArray firmware;
    quint32 firmLen = 0;
    QByteArray splitLenReply;
    BootFrame::SplitLenRequest device;
    int connectAttempt = 0;
    int resynchronisations = 0;
    quint32 splitCount = 0;
    quint32 packetsPerSplit = 0;
    quint32 splitIndex = 0;
    quint32 packetIndex = 0;
    int packetTimeouts = 0;
    int checkTimeouts = 0;
    // Time-outs of this update: after one, an answer may come late, after its frame's wait.
    int timeoutsSeen = 0;
    // Since FIRMWARE LEN or FIRMWARE OVER left: a reply that answers neither leaves the rest of their wait.
    QElapsedTimer sinceAwaitedFrame;
    int packetRepeats = 0;
    int splitRewinds = 0;
    quint64 bytesAcknowledged = 0;
    quint64 bytesRemaining = 0;
    // For the record: the device's address once announced, packets written again, and the
    // furthest packet written so far (a packet at or before it is a repeat).
    QString deviceAddress;
    int packetRepeatsInAll = 0;
    qint64 furthestPacketSent = -1;
};
