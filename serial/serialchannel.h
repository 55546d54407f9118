#pragma once

#include "platform/portpresence.h"
#include "serial/replycutter.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

// The one serial port of the tool, without any widget, driven by events only: a write
// returns at once, received bytes are taken where they arrive (the port's readyRead) and cut
// into replies there, and every change is a signal. Nothing here waits; whoever must wait
// does so in its own event loop. Everything runs on the thread that created the channel.
class SerialChannel : public QObject
{
    Q_OBJECT
public:
    // Codes of `threadCallBack`.
    enum PortState
    {
        // The chosen port is listed, closed, and was not closed by the user: it may open again.
        PortBackAndClosed = 0,
        // The chosen port is no longer listed while it is open.
        PortGoneWhileOpen = 1
    };
    // Why the port cannot be used, beside the text that says so (as QSerialPort keeps its error).
    enum class PortError
    {
        NoError,
        NoPortChosen,
        RateNotSupported,
        PermissionDenied, // the user is not allowed to open the device
        InUse,            // another program holds it
        OpenFailed,       // any other reason the system gave
        Lost,             // it went away while open
    };
    Q_ENUM(PortError)

    // Below this rate a bootloader's 14-byte request no longer fits its 2 s wait with room
    // to spare, so an update could fail against a device that answers at once.
    static constexpr qint32 kMinimumBaudRate = 300;
    // How often the chosen port is looked for where the file system tells nothing.
    static constexpr int kPresenceScanMs = ::PortPresence::kScanMs;

    explicit SerialChannel(QObject *parent = nullptr);
    ~SerialChannel() override;

    // Empty when an update can work at this rate, else why not.
    static QString baudRateProblem(qint32 baudRate);

    QString portName() const { return serialPort->portName(); }
    // Takes effect at the next open.
    void setPortName(const QString &name) { serialPort->setPortName(name); }
    qint32 baudRate() const { return serialPort->baudRate(); }
    // The device path of the port's current name (QSerialPortInfo does not know ptys).
    QString portLocation() const;

    // The name whose presence is watched; kept up to date by whoever chooses the port.
    // While it is empty, the device path of the opened port is watched instead.
    void setSelectedPortName(const QString &name);
    QString selectedPortName() const { return selectedName; }

    // Sets the rate for both directions; also applied at once to an open port.
    void setBaudRate(qint32 baudRate);

    // Opens the port read-write with its current name and baud rate and the fixed line
    // settings. The reason of a failure is in lastOpenError() and goes out with openFailed.
    bool openPort();
    void closePort();
    bool isPortOpen() const { return serialPort->isOpen(); }
    QString lastOpenError() const { return openError; }
    // The kind of the last failure to open, or of the loss; NoError while the port is usable.
    PortError portError() const { return errorKind; }
    // Why no update can use the port now (not chosen, not open, lost); empty while open.
    QString unavailableReason() const;

    bool portClosedByUser() const { return closedByUser; }
    void setPortClosedByUser(bool closed) { closedByUser = closed; }

    // Writes bytes without waiting for them to leave: what arrived before answers nothing
    // that follows. False on a closed port, which sendRefused tells too.
    bool send(const QByteArray &bytes);
    // Bytes written but not yet handed to the system.
    qint64 bytesToWrite() const { return serialPort->bytesToWrite(); }
    // The next queued reply, or an empty array; never waits.
    QByteArray takeQueuedReply() { return cutter.takeReply(); }
    bool hasReply() const { return cutter.hasReply(); }
    // Time until the bytes written so far have left the line at the port's rate.
    qint64 msUntilLineFree() const;
    // Bytes received so far, to tell whether any came in a while.
    quint64 receivedByteCount() const { return bytesArrived; }
    // What was received and not taken yet, as one array.
    QByteArray untakenBytes() const { return cutter.untakenBytes(); }
    // Takes in what the port holds now; the port's readyRead calls it, so nobody else needs to.
    void readArrivedBytes();

    // Received bytes and replies from before this moment answer nothing that follows.
    void discardReceived(const QString &why);
    // The same, but bootloader frames received so far stay.
    void discardAllButFrames(const QString &why) { cutter.discardAllButFrames(why); }
    int queuedReplies() const { return cutter.queuedReplies(); }

signals:
    // A send found the port closed; `untaken` is what was received and never taken.
    void sendRefused(QByteArray untaken);
    // `status` is a PortState; it stays int for whoever connects to it by signature.
    void threadCallBack(int status);
    void baudRateChanged(qint32 baudRate);
    // The port opened or closed: drives the indicator.
    void portOpenChanged(bool open);
    // The port was lost while open (adapter unplugged, pty gone): emitted once per loss.
    void portLost(QString reason);
    // Opening the port failed; the text says why.
    void openFailed(QString reason);
    // A reply was queued: takeQueuedReply() has it.
    void replyQueued();
    // Bytes arrived on the line.
    void bytesReceived();

private:
    void configureLineSettings();
    bool openDevice();
    void onPortStateSignal(int status);
    void onPortError(QSerialPort::SerialPortError error);
    void reportLoss(const QString &reason);
    void announceOpenState();
    void onPresenceChanged(bool present);
    void watchPresence();
    QString describeOpenFailure();
    QString nameToWatch() const;
    bool readWaitingBytes();
    void noteLineBusy(qint64 bytes);

    QSerialPort *serialPort = nullptr;
    ReplyCutter cutter;
    PortPresence presence;
    QString openError;
    QString lossReason;
    PortError errorKind = PortError::NoError;
    QString selectedName;
    QString openedName;
    bool closedByUser = false;
    bool lossPending = false;
    bool shownOpen = false;
    quint64 bytesArrived = 0;
    // Counts the opens, so that a loss noticed before a re-open never closes the port opened since.
    quint64 openings = 0;
    // When the bytes written so far will have left the line, on lineClock.
    QElapsedTimer lineClock;
    qint64 lineFreeAtMs = 0;
};
