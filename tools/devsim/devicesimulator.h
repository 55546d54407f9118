#pragma once

#include "tools/devsim/framereassembler.h"
#include "tools/devsim/radiohop.h"
#include "tools/devsim/simulatoroptions.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

// The bootloader's side of the update exchange, fed with the bytes that reach the device
// and answering through output(). It knows nothing of the line: a transport carries the
// bytes both ways.
class DeviceSimulator : public QObject
{
    Q_OBJECT
public:
    explicit DeviceSimulator(const SimulatorOptions &options, QObject *parent = nullptr);

    // Arms the demo board's own SPLIT LEN requests; other targets wait for a boot entry.
    void start();

    QByteArray splitLenRequest() const;
    // Firmware-phase frames received so far; the numbering of the injection options.
    int firmwareFrameCount() const { return frameCount; }
    bool updateSucceeded() const { return succeeded; }
    QString summary() const;

public slots:
    void receive(const QByteArray &bytes);
    // The device was told to enter its bootloader (or restarted): it starts a new request.
    void enterBoot();
    // The gateway's boot request came through the broker; only a gateway target obeys it.
    void gatewayBootRequest();

signals:
    void output(const QByteArray &bytes);
    void logLine(const QString &line);
    // A FIRMWARE LEN began a new image (not its repeat within the same session).
    void updateStarted();
    void updateConfirmed();
    // A FIRMWARE LEN, PACKET, CHECK or OVER frame came in, whatever its fate.
    void firmwareFrameReceived();

private:
    struct Reply
    {
        QByteArray frame;
        QString text;
    };

    void handleItems(const QList<FrameReassembler::Item> &items);
    void handleEntryCommand(FrameReassembler::Kind kind);
    void answerModuleCommand(uint8_t command);
    void handleFrame(const QByteArray &frame);
    bool injectFault(int number, const QString &what);
    Reply answerFrame(const QByteArray &frame);
    Reply answerFirmwareLen(const QByteArray &frame);
    Reply answerPacket(const QByteArray &frame);
    Reply answerCheck(const QByteArray &frame);
    Reply answerOver(const QByteArray &frame);
    Reply fail(uint8_t code, const QString &why);
    void sendReply(const QString &what, const Reply &reply);
    void send(const QByteArray &bytes);
    void sendSplitLen(const QString &why);
    void resetSession();
    void restartAfterFailure();
    void sendDemoRequest();
    void dropStalledByte();
    bool writeImage(QString *error) const;
    QString describeFrame(const QByteArray &frame, int number) const;
    int splitCount() const;
    int packetsPerSplit() const;

    SimulatorOptions settings;
    FrameReassembler reassembler;
    // Every answer late by --reply-delay, in the order sent.
    RadioHop replyDelay;
    QTimer stallTimer;
    QTimer demoTimer;
    QTimer restartTimer;
    bool configCommandSeen = false;
    bool bootCommandSeen = false;
    bool firmwareAnnounced = false;
    QByteArray image;
    int splitIndex = 0;
    int nextPacket = 0;
    int frameCount = 0;
    int packetsTaken = 0;
    int splitsChecked = 0;
    int failsSent = 0;
    int splitLenSent = 0;
    bool succeeded = false;
};
