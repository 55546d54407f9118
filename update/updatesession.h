#pragma once

#include "bootframe.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

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
};

// One firmware update from start to end: boot entry, the device's parameters, the image
// split by split and packet by packet, the check of each split and the closing frame.
// It talks only to a link and a reporter, so the window, the command-line flasher and the
// tests all drive the same exchange.
class UpdateSession : public QObject
{
    Q_OBJECT
public:
    // The exchange's fixed waits and limits.
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
    // FIRMWARE LEN carries 32 bits, but the image is held and padded in memory, where it must
    // stay below 2 GiB with room for up to 64 KiB of padding.
    static constexpr qint64 kMaxImageBytes = 0x7FFF0000;

    UpdateSession(UpdateLink &link, UpdateReporter &reporter, QObject *parent = nullptr);
    ~UpdateSession() override;

    // Runs a whole update. `packet` (may be null) holds an image already in memory; when it
    // is null or empty the file at `path` is read instead. The caller's array is not changed.
    UpdateOutcome run(const QString &path, const QByteArray *packet);

    // Result of the last local file read.
    bool lastReadOk() const { return readOk; }

    // True while this session runs; a second start of it is refused.
    bool isRunning() const { return running; }
    // Ends the running session at once, its current wait included, with the report (the
    // window is being closed, the user gave up). Does nothing when the session is not running.
    void requestAbort();
    // Why the last run did not succeed, in one line; empty after a success.
    QString failureReason() const { return failure; }

    // Why the file at `path` cannot be an image (not a regular file, too large); empty when it
    // can, or when there is no file at all (an empty image, which the session reports itself).
    static QString imageFileProblem(const QString &path);

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

private:
    enum class State
    {
        Prepare,
        Connect,
        Resynchronise,
        Parameters,
        Announce,
        Transfer,
        Check,
        Finish,
        Report,
        Done,
    };

    State stepPrepare(const QString &path, const QByteArray *packet);
    State stepConnect();
    State stepResynchronise();
    State stepParameters();
    State stepAnnounce();
    State stepTransfer();
    State stepCheck();
    State stepFinish();
    State stepReport();

    bool halted();
    bool waitForReply(int timeoutMs, QByteArray *reply);
    int splitLenWaitMs() const;
    State fail(const QString &reason);
    bool takeSplitLenRequest(const QByteArray &reply);
    bool parametersUsable();
    void padImage();
    void startTransfer();
    void restartSplit();
    State splitStart() const;
    State rewindSplit();
    State resynchronise();
    void acknowledgePacket();
    QByteArray currentSplit() const;
    QByteArray buildPacketFrame(const QByteArray &data) const;
    QByteArray buildCheckFrame() const;
    void sendFrame(const QByteArray &frame);
    void consoleReply(const QByteArray &reply);
    bool readLocalFile(const QString &path);

    UpdateLink &link;
    UpdateReporter &reporter;
    bool readOk = false;
    bool running = false;
    bool abortRequested = false;
    QString failure;

    // Values of the running session.
    QElapsedTimer clock;
    UpdateOutcome outcome = UpdateOutcome::Failed;
    QByteArray firmware;
    quint32 firmLen = 0;
    QByteArray splitLenReply;
    SplitLenRequest device;
    int connectAttempt = 0;
    int resynchronisations = 0;
    quint32 splitCount = 0;
    quint32 packetsPerSplit = 0;
    quint32 splitIndex = 0;
    quint32 packetIndex = 0;
    int packetTimeouts = 0;
    int checkTimeouts = 0;
    int packetRepeats = 0;
    int splitRewinds = 0;
    quint64 bytesAcknowledged = 0;
    quint64 bytesRemaining = 0;
};
