#include "protocol/bootframe.h"
#include "protocol/gatewaymessages.h"
#include "protocol/modulecommand.h"
#include "update/fleetrunner.h"
#include "update/updateestimate.h"
#include "update/updatelink.h"
#include "update/updatereporter.h"
#include "update/updatesession.h"

#include <QFile>
#include <QHash>
#include <QQueue>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>
#include <utility>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

QByteArray reply(uint8_t command, uint8_t code = 0)
{
    return BootFrame::makeBootFrame(command, QByteArray(1, char(code)));
}

QByteArray image(int size)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char((i * 7 + 3) % 251);
    return out;
}

QByteArray padded(QByteArray data, int splitLen)
{
    while (data.size() % splitLen)
        data.append(char(0xFF));
    return data;
}

// Plays the bootloader inside the test: answers at once, keeps what it receives split by
// split (a split counts once its check is answered CONTINUE), and can be told to answer a
// given frame differently. An empty scripted answer is silence, which the session sees as
// a time-out at once: no test waits for a real deadline.
class FakeBootloader : public UpdateLink
{
public:
    BootFrame::SplitLenRequest params{BootCmd::SplitLen, 256, 128, 0, 0x00A1B2C3};
    bool gateway = false;
    // Answers to the frame with this number (counted from 0 over all written frames).
    QHash<int, QByteArray> scripted;
    // A second answer to the frame with this number, right behind the first.
    QHash<int, QByteArray> followUps;
    // Answers to the boot entry with this number; the others get the SPLIT LEN request.
    QHash<int, QByteArray> bootScripted;
    // After a RETURN FAIL other than 0x85 the device starts over with a new request.
    bool restartAfterFail = true;
    std::function<void()> onWait;

    QVector<QByteArray> frames;
    QVector<int> waits;
    QVector<qint64> delays;
    int bootEntries = 0;
    int cancels = 0;
    QByteArray received;
    QVector<quint32> packetIndexes;
    QVector<uint8_t> checkCrcs;
    QVector<quint32> announcedLengths;
    int badFrames = 0;

    void writeFrame(const QByteArray &frame) override
    {
        frames.append(frame);
        answers.clear();
        if (!BootFrame::checkBootFrame(frame))
            ++badFrames;
        const int number = frames.size() - 1;
        if (scripted.contains(number))
            answerScripted(scripted.value(number));
        else
            answers.enqueue(answer(frame));
        if (followUps.contains(number))
            answers.enqueue(followUps.value(number));
    }

    void awaitReply(int timeoutMs) override
    {
        waits.append(timeoutMs);
        if (onWait)
            onWait();
        later([this] {
            const QByteArray next = answers.isEmpty() ? QByteArray() : answers.dequeue();
            if (next.isEmpty())
                emit replyTimedOut();
            else
                emit replyReceived(next);
        });
    }

    void sendBootEntry() override
    {
        answers.clear();
        const int number = bootEntries++;
        answers.enqueue(bootScripted.value(number, BootFrame::encodeSplitLenRequest(params)));
        emit bootEntryDone();
    }

    void pause(qint64 ms) override
    {
        delays.append(ms);
        later([this] { emit pauseDone(); });
    }

    void cancel() override
    {
        ++cancels;
        ++generation;
    }

    bool usesGateway() const override { return gateway; }
    QString unavailableReason() const override { return unavailable; }
    QString whatToCheck() const override { return QStringLiteral("check the cable"); }

    // Set to make the link unusable, as a closed or lost serial port does.
    QString unavailable;

    int framesOf(uint8_t command) const
    {
        return int(std::count_if(frames.cbegin(), frames.cend(),
                                 [command](const QByteArray &f) { return uint8_t(f.at(2)) == command; }));
    }

private:
    QQueue<QByteArray> answers;
    QByteArray split;
    // A cancel drops what was to come.
    int generation = 0;

    void later(std::function<void()> step)
    {
        QMetaObject::invokeMethod(
            this,
            [this, step, due = generation] {
                if (due == generation)
                    step();
            },
            Qt::QueuedConnection);
    }

    void answerScripted(const QByteArray &scriptedAnswer)
    {
        answers.enqueue(scriptedAnswer);
        if (BootFrame::replyByte(scriptedAnswer, 2) != BootCmd::ReturnFail)
            return;
        split.clear();
        if (BootFrame::replyByte(scriptedAnswer, 3) != BootReturn::RewindSplit && restartAfterFail) {
            received.clear();
            answers.enqueue(BootFrame::encodeSplitLenRequest(params));
        }
    }

    QByteArray answer(const QByteArray &frame)
    {
        const auto *p = reinterpret_cast<const uint8_t *>(frame.constData());
        switch (p[2]) {
        case BootCmd::FirmwareLen:
            announcedLengths.append(BootFrame::readLe32(p + 3));
            received.clear();
            split.clear();
            return reply(BootCmd::RequestFirmware);
        case BootCmd::FirmwarePacket:
            packetIndexes.append(BootFrame::readLe32(p + 3));
            split.append(frame.mid(7, frame.size() - 8));
            return reply(BootCmd::FirmwareContinue);
        case BootCmd::FirmwareCheck:
            checkCrcs.append(p[3]);
            received.append(split);
            split.clear();
            return reply(BootCmd::FirmwareContinue);
        case BootCmd::FirmwareOver:
            return reply(BootCmd::ReturnSuccess);
        default:
            return reply(BootCmd::ReturnFail, BootReturn::CmdError);
        }
    }
};

class RecordingReporter : public UpdateReporter
{
public:
    QStringList lines;
    QVector<int> progress;
    int maximum = -1;
    int resets = 0;
    QString address;

    void consoleLine(const QString &text) override { lines.append(text); }
    void progressReset() override { ++resets; }
    void progressMaximum(int value) override { maximum = value; }
    void progressValue(int value) override { progress.append(value); }
    void deviceAddress(const QString &text) override { address = text; }

    int count(const QString &line) const { return lines.count(line); }
    bool hasLineStarting(const QString &prefix) const
    {
        return std::any_of(lines.cbegin(), lines.cend(),
                           [&](const QString &l) { return l.startsWith(prefix); });
    }
    bool reported() const
    {
        return hasLineStarting(QStringLiteral("firmware update process over, use time="));
    }
    QVector<qint64> remainingCounts() const
    {
        QVector<qint64> out;
        const QString prefix = QStringLiteral("firmware packet sending - ");
        for (const QString &l : lines) {
            if (!l.startsWith(prefix))
                continue;
            // A count wrapped below 0 is beyond qint64 and would read as 0: it reads as -1.
            bool ok = false;
            const qint64 count = l.mid(prefix.size()).toLongLong(&ok);
            out.append(ok ? count : -1);
        }
        return out;
    }
};

struct Run
{
    FakeBootloader device;
    RecordingReporter reporter;
    UpdateOutcome outcome = UpdateOutcome::Failed;
    int connectAttempts = UpdateSession::kConnectAttempts;

    QString failureReason;
    UpdateFailure::Kind failureKind = UpdateFailure::Kind::None;

    UpdateOutcome start(const QByteArray &firmware)
    {
        UpdateSession session(device, reporter);
        session.setConnectAttempts(connectAttempts);
        outcome = session.run(firmware);
        failureReason = session.failureReason();
        failureKind = session.failure().kind;
        return outcome;
    }
};

// Collects the debug trace written while it exists.
class TraceCapture
{
public:
    TraceCapture() { previous = qInstallMessageHandler(&TraceCapture::handle); }
    ~TraceCapture()
    {
        qInstallMessageHandler(previous);
        captured().clear();
    }
    QStringList lines() const { return captured(); }

private:
    QtMessageHandler previous = nullptr;
    static QStringList &captured()
    {
        static QStringList lines;
        return lines;
    }
    static void handle(QtMsgType, const QMessageLogContext &, const QString &text)
    {
        captured().append(text);
    }
};

const QString kSuccessLine = QStringLiteral("firmware packet update success ");

} // namespace

Q_DECLARE_METATYPE(UpdateFailure::Kind)

class tst_Update : public QObject
{
    Q_OBJECT
private slots:
    void crc8CheckValues_data();
    void crc8CheckValues();
    void bootFrameExamples();
    void paddingToWholeSplits();
    void exactMultipleNotPadded();
    void splitTailNotSent_data();
    void splitTailNotSent();
    void rewindKeepsCountsMoving();
    void timeoutsInARowEndSession_data();
    void timeoutsInARowEndSession();
    void replyBetweenTimeoutsResetsCount();
    void otherReturnFailResynchronises();
    void finishAnswers_data();
    void finishAnswers();
    void lateAnswerBeforeTheConfirmation();
    void deviceSilentWhileConnecting_data();
    void deviceSilentWhileConnecting();
    void announcementRepeatCrossingFirmwareLen();
    void announceAnsweredOtherwiseEndsQuietly_data();
    void announceAnsweredOtherwiseEndsQuietly();
    void emptyImageHasNoReport();
    void twoSessionsInterleaveOnOneThread();
    void reportFormat_data();
    void reportFormat();
    void secondRunWhileRunningIsRefused();
    void abortEndsTheSessionWithTheReport();
    void unusableLinkEndsTheSessionAtOnce_data();
    void unusableLinkEndsTheSessionAtOnce();

    void shortSplitLenReplyIsNotRead();
    void shortRepliesAreNotReadPastEnd();
    void longReplyShownInPart();
    void consoleReturnCodeOnShortReply_data();
    void consoleReturnCodeOnShortReply();
    void unusableParametersEndSession_data();
    void unusableParametersEndSession();
    void packetFrameSizedFromUartLen();
    void packetRepeatsAreBounded();
    void splitRewindsAreBounded_data();
    void splitRewindsAreBounded();
    void resynchronisationsAreBounded();
    void remainingCountDoesNotWrap();

    void bootEntryTexts();

    void estimates_data();
    void estimates();
    void fleetPolicies_data();
    void fleetPolicies();
    void fleetAbortEndsRunningAndSkipsTheRest();
    void deviceGateDecidesBeforeTheImage_data();
    void deviceGateDecidesBeforeTheImage();
    void statsCountWhatHappened();
    void fleetRetriesLinkFailuresOnly_data();
    void fleetRetriesLinkFailuresOnly();
};

void tst_Update::crc8CheckValues_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("crc");
    QTest::newRow("empty") << QByteArray() << 0x55;
    QTest::newRow("digits") << QByteArray("123456789") << 0xF1;
    QTest::newRow("abc") << QByteArray("abc") << 0xBB;
}

void tst_Update::crc8CheckValues()
{
    QFETCH(QByteArray, data);
    QFETCH(int, crc);
    QCOMPARE(int(BootFrame::crc8(data)), crc);
}

void tst_Update::bootFrameExamples()
{
    QByteArray over = bytes({0x00, 0x00, 0x07, 0x01, 0x00});
    BootFrame::encodeBootFrame(reinterpret_cast<uint8_t *>(over.data()), 5);
    QCOMPARE(over, bytes({0x03, 0x00, 0x07, 0x01, 0xE4}));
    QVERIFY(BootFrame::checkBootFrame(reinterpret_cast<const uint8_t *>(over.constData()), 5));
    over.append('\0');
    QVERIFY(!BootFrame::checkBootFrame(reinterpret_cast<const uint8_t *>(over.constData()), 6));

    // The session's own FIRMWARE LEN frame for a 65536-byte image.
    Run run;
    run.device.params.splitLen = 0x8000;
    run.device.params.uartLen = 0x8000;
    run.device.scripted.insert(0, reply(BootCmd::FirmwareContinue));
    run.start(image(65536));
    QCOMPARE(run.device.frames.first(), bytes({0x07, 0x00, 0x02, 0x00, 0x00, 0x01, 0x00, 0x01, 0xF3}));

    const QByteArray request = BootFrame::encodeSplitLenRequest(run.device.params);
    QVERIFY(BootFrame::checkBootFrame(request));
    QVERIFY(!BootFrame::checkBootFrame(request.left(13)));
}

void tst_Update::paddingToWholeSplits()
{
    Run run;
    const QByteArray firmware = image(1000);
    QCOMPARE(run.start(firmware), UpdateOutcome::Success);

    QCOMPARE(run.device.announcedLengths, QVector<quint32>{1024});
    QCOMPARE(run.device.packetIndexes, (QVector<quint32>{0, 1, 1, 2, 2, 3, 3, 4}));
    QCOMPARE(run.device.received, padded(firmware, 256));
    QCOMPARE(run.device.received.right(24), QByteArray(24, char(0xFF)));
    QCOMPARE(run.device.badFrames, 0);
    QCOMPARE(run.reporter.maximum, 1024);
    QCOMPARE(run.reporter.progress.last(), 1024);
    QCOMPARE(run.reporter.address, QStringLiteral("00A1B2C3"));
    QCOMPARE(run.reporter.count(kSuccessLine), 1);
    QVERIFY(run.reporter.reported());
    QCOMPARE(firmware.size(), 1000); // the caller's image is not padded
}

void tst_Update::exactMultipleNotPadded()
{
    Run run;
    const QByteArray firmware = image(768);
    QCOMPARE(run.start(firmware), UpdateOutcome::Success);
    QCOMPARE(run.device.announcedLengths, QVector<quint32>{768});
    QCOMPARE(run.device.received, firmware);
}

void tst_Update::splitTailNotSent_data()
{
    QTest::addColumn<int>("splitLen");
    QTest::addColumn<int>("uartLen");
    QTest::addColumn<int>("packets");
    QTest::addColumn<int>("sentPerSplit");
    QTest::newRow("tail of 44 bytes") << 300 << 128 << 4 << 256;
    // The packet is longer than the split: nothing of it travels, yet each split is checked.
    QTest::newRow("packet above split") << 300 << 512 << 0 << 0;
}

void tst_Update::splitTailNotSent()
{
    QFETCH(int, splitLen);
    QFETCH(int, uartLen);
    QFETCH(int, packets);
    QFETCH(int, sentPerSplit);
    Run run;
    run.device.params.splitLen = uint16_t(splitLen);
    run.device.params.uartLen = uint16_t(uartLen);
    const QByteArray firmware = image(600);
    QCOMPARE(run.start(firmware), UpdateOutcome::Success);

    QCOMPARE(run.device.framesOf(BootCmd::FirmwarePacket), packets);
    QCOMPARE(run.device.received, firmware.left(sentPerSplit) + firmware.mid(300, sentPerSplit));
    QCOMPARE(run.device.checkCrcs, (QVector<uint8_t>{BootFrame::crc8(firmware.left(299)),
                                                     BootFrame::crc8(firmware.mid(300, 299))}));
    const QString warning = QStringLiteral("last %1 bytes").arg(splitLen % uartLen);
    int warnings = 0;
    for (const QString &line : run.reporter.lines)
        warnings += line.contains(warning) ? 1 : 0;
    QCOMPARE(warnings, 1);
    QVERIFY(!run.reporter.hasLineStarting(QStringLiteral("device parameters unusable: ")));
}

void tst_Update::rewindKeepsCountsMoving()
{
    Run run;
    // Frame 0 is FIRMWARE LEN; frame 2 is the second packet of split 0.
    run.device.scripted.insert(2, reply(BootCmd::ReturnFail, BootReturn::RewindSplit));
    const QByteArray firmware = image(1024);
    QCOMPARE(run.start(firmware), UpdateOutcome::Success);

    QCOMPARE(run.reporter.count(QStringLiteral("------------------error 1164")), 1);
    QCOMPARE(run.device.packetIndexes.mid(0, 4), (QVector<quint32>{0, 0, 1, 1}));
    QCOMPARE(run.device.received, firmware);
    const QVector<qint64> remaining = run.reporter.remainingCounts();
    QCOMPARE(remaining.mid(0, 4), (QVector<qint64>{1024, 896, 896, 768}));
    QVERIFY(std::is_sorted(remaining.crbegin(), remaining.crend()));
    QVERIFY(std::is_sorted(run.reporter.progress.cbegin(), run.reporter.progress.cend()));
    QCOMPARE(run.reporter.progress.last(), 1152);
}

void tst_Update::timeoutsInARowEndSession_data()
{
    QTest::addColumn<int>("frame");
    QTest::addColumn<QString>("trace");
    QTest::newRow("packet") << 1 << "packet";
    // Frames 1, 2 are the packets of split 0, frame 3 its check; each silent check resends the split.
    QTest::newRow("check") << 3 << "check";
}

void tst_Update::timeoutsInARowEndSession()
{
    QFETCH(int, frame);
    QFETCH(QString, trace);
    Run run;
    const int stride = trace == QLatin1String("packet") ? 1 : 3;
    for (int i = 0; i < 3; ++i)
        run.device.scripted.insert(frame + i * stride, QByteArray());
    QCOMPARE(run.start(image(512)), UpdateOutcome::Failed);

    QStringList timeouts;
    for (const QString &line : run.reporter.lines)
        if (line.startsWith(QStringLiteral("firmware packet send timeout")))
            timeouts.append(line);
    QCOMPARE(timeouts, (QStringList{"firmware packet send timeout 0", "firmware packet send timeout 1",
                                    "firmware packet send timeout 2"}));
    QCOMPARE(run.device.frames.size(), frame + 2 * stride + 1);
    QVERIFY(run.reporter.reported());
    QVERIFY(!run.reporter.lines.contains(kSuccessLine));
}

void tst_Update::replyBetweenTimeoutsResetsCount()
{
    Run run;
    run.device.scripted.insert(1, QByteArray());
    run.device.scripted.insert(2, QByteArray());
    run.device.scripted.insert(3, bytes({0x01, 0x02, 0x03}));
    run.device.scripted.insert(4, QByteArray());
    run.device.scripted.insert(5, QByteArray());
    QCOMPARE(run.start(image(256)), UpdateOutcome::Success);
    QCOMPARE(run.reporter.count(QStringLiteral("firmware packet send timeout 0")), 2);
    QCOMPARE(run.reporter.count(QStringLiteral("firmware packet send timeout 1")), 2);
    QCOMPARE(run.reporter.count(QStringLiteral("firmware packet send timeout 2")), 0);
}

void tst_Update::otherReturnFailResynchronises()
{
    Run run;
    run.device.scripted.insert(2, reply(BootCmd::ReturnFail, BootReturn::CrcCheckError));
    const QByteArray firmware = image(700);
    QCOMPARE(run.start(firmware), UpdateOutcome::Success);

    QCOMPARE(run.reporter.count(QStringLiteral("------------------error  1168")), 1);
    QCOMPARE(run.device.bootEntries, 1); // resynchronising sends no boot entry
    QCOMPARE(run.device.announcedLengths, (QVector<quint32>{768, 768}));
    QCOMPARE(run.device.received, padded(firmware, 256));
    QCOMPARE(run.reporter.remainingCounts().mid(2, 1), QVector<qint64>{768}); // counters start over
}

void tst_Update::finishAnswers_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QString>("reason");
    QTest::newRow("success") << reply(BootCmd::ReturnSuccess) << kSuccessLine << int(UpdateOutcome::Success)
                             << QString();
    QTest::newRow("other") << reply(BootCmd::FirmwareContinue) << "firmware packet send error"
                           << int(UpdateOutcome::Failed)
                           << "FIRMWARE OVER answered with FIRMWARE CONTINUE instead of RETURN SUCCESS";
    // A success whose CRC does not hold is no answer at all.
    QTest::newRow("success with a bad CRC")
        << bytes({0x03, 0x00, 0xFA, 0x00, 0x00}) << "firmware packet send error" << int(UpdateOutcome::Failed)
        << "FIRMWARE OVER answered with a reply that is not a valid frame instead of RETURN SUCCESS";
    QTest::newRow("refused") << reply(BootCmd::ReturnFail, BootReturn::CrcCheckError)
                             << "firmware packet send error" << int(UpdateOutcome::Failed)
                             << "FIRMWARE OVER refused by the device: CRC CHECK ERROR";
    QTest::newRow("silence") << QByteArray() << "firmware packet send timeout" << int(UpdateOutcome::Failed)
                             << "no answer to FIRMWARE OVER";
}

void tst_Update::finishAnswers()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, line);
    QFETCH(int, outcome);
    QFETCH(QString, reason);
    Run run;
    run.device.params.overDelay = 123;
    run.device.scripted.insert(4, answer); // LEN, 2 packets, check, OVER
    QCOMPARE(int(run.start(image(256))), outcome);
    QCOMPARE(run.device.frames.last(), bytes({0x03, 0x00, 0x07, 0x01, 0xE4}));
    QCOMPARE(run.device.delays, QVector<qint64>{123});
    QCOMPARE(run.reporter.count(line), 1);
    // A failure names its reason right before the report.
    const QStringList expectedTail = reason.isEmpty() ? QStringList{line} : QStringList{line, reason};
    QCOMPARE(run.reporter.lines.mid(run.reporter.lines.size() - 1 - expectedTail.size(), expectedTail.size()),
             expectedTail);
    QCOMPARE(run.failureReason, reason);
    QVERIFY(run.reporter.reported());
}

// After a time-out, FIRMWARE OVER (frame 5: LEN, a packet twice, a packet, the check) is answered
// by a late CONTINUE, then by the confirmation; without one, CONTINUE is a refusal (finishAnswers).
void tst_Update::lateAnswerBeforeTheConfirmation()
{
    Run run;
    run.device.scripted.insert(1, QByteArray());
    run.device.scripted.insert(5, reply(BootCmd::FirmwareContinue));
    run.device.followUps.insert(5, reply(BootCmd::ReturnSuccess));
    QCOMPARE(run.start(image(256)), UpdateOutcome::Success);
}

void tst_Update::deviceSilentWhileConnecting_data()
{
    QTest::addColumn<bool>("gateway");
    QTest::addColumn<int>("wait");
    QTest::addColumn<int>("attempts");
    QTest::newRow("serial") << false << 2000 << 10;
    QTest::newRow("gateway") << true << 20000 << 10;
    QTest::newRow("gateway, fewer attempts") << true << 20000 << 3;
}

void tst_Update::deviceSilentWhileConnecting()
{
    QFETCH(bool, gateway);
    QFETCH(int, wait);
    QFETCH(int, attempts);
    Run run;
    run.device.gateway = gateway;
    run.connectAttempts = attempts;
    for (int i = 0; i < 10; ++i)
        run.device.bootScripted.insert(i, i % 2 ? QByteArray() : reply(BootCmd::RequestFirmware));
    QCOMPARE(run.start(image(10)), UpdateOutcome::Failed);
    QCOMPARE(run.device.bootEntries, attempts);
    QCOMPARE(run.device.waits, QVector<int>(attempts, wait));
    QCOMPARE(run.reporter.lines.filter(QStringLiteral("trying to connect device ")).last(),
             QStringLiteral("trying to connect device %1").arg(attempts - 1));
    QVERIFY(run.device.frames.isEmpty());
    QVERIFY(run.reporter.reported());
    // The reason says what to check, as the link words it.
    QCOMPARE(run.failureReason, QStringLiteral("no SPLIT LEN request from the device after %1 connect "
                                               "attempts: check the cable")
                                    .arg(attempts));
    QCOMPARE(run.failureKind, UpdateFailure::Kind::NoAnswer);
}

void tst_Update::announceAnsweredOtherwiseEndsQuietly_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("reason");
    QTest::newRow("other command")
        << reply(BootCmd::FirmwareContinue)
        << "FIRMWARE LEN answered with FIRMWARE CONTINUE instead of REQUEST FIRMWARE";
    QTest::newRow("refused") << reply(BootCmd::ReturnFail, BootReturn::FirmwareLenError)
                             << "FIRMWARE LEN refused by the device: FIRMWARE LEN ERROR";
    QTest::newRow("silence") << QByteArray() << "no answer to FIRMWARE LEN";
}

void tst_Update::announceAnsweredOtherwiseEndsQuietly()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, reason);
    Run run;
    run.device.scripted.insert(0, answer);
    QCOMPARE(run.start(image(10)), UpdateOutcome::Failed);
    QCOMPARE(run.device.frames.size(), 1);
    QCOMPARE(run.reporter.lines.filter(QStringLiteral("firmware packet")).size(), 0);
    QCOMPARE(run.failureReason, reason);
    QCOMPARE(run.reporter.lines.at(run.reporter.lines.size() - 2), reason);
    QVERIFY(run.reporter.reported());
}

// A demo board's repeated SPLIT LEN that crossed FIRMWARE LEN on the line is no answer to it.
void tst_Update::announcementRepeatCrossingFirmwareLen()
{
    Run run;
    run.device.scripted.insert(0, BootFrame::encodeSplitLenRequest(run.device.params));
    run.device.followUps.insert(0, reply(BootCmd::RequestFirmware));
    QCOMPARE(run.start(image(1000)), UpdateOutcome::Success);
    QCOMPARE(run.device.received.left(1000), image(1000));
}

void tst_Update::emptyImageHasNoReport()
{
    FakeBootloader device;
    RecordingReporter reporter;
    UpdateSession session(device, reporter);
    QCOMPARE(session.run(QByteArray()), UpdateOutcome::EmptyImage);
    QCOMPARE(reporter.lines, (QStringList{"firmware packet is empty"}));
    QCOMPARE(device.bootEntries, 0);

    // No image at all: nothing to send, but the report closes the session and says why.
    QCOMPARE(session.run(QByteArray(), QStringLiteral("no firmware image given")), UpdateOutcome::Failed);
    QVERIFY(reporter.reported());
    QCOMPARE(reporter.count(QStringLiteral("no firmware image given")), 1);
}

// Neither session waits in place: each frame of one goes out while the other waits too.
void tst_Update::twoSessionsInterleaveOnOneThread()
{
    QStringList log;
    FakeBootloader first;
    FakeBootloader second;
    second.params.splitLen = 128;
    RecordingReporter firstReporter;
    RecordingReporter secondReporter;
    UpdateSession firstSession(first, firstReporter);
    UpdateSession secondSession(second, secondReporter);
    first.onWait = [&] { log << QStringLiteral("first"); };
    second.onWait = [&] { log << QStringLiteral("second"); };
    QSignalSpy firstDone(&firstSession, &UpdateSession::finished);
    QSignalSpy secondDone(&secondSession, &UpdateSession::finished);
    QVERIFY(firstSession.start(image(1024)));
    QVERIFY(secondSession.start(image(1024)));
    QTRY_VERIFY(firstDone.count() == 1 && secondDone.count() == 1);
    QCOMPARE(firstDone.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Success);
    QCOMPARE(secondDone.at(0).at(0).value<UpdateOutcome>(), UpdateOutcome::Success);
    QCOMPARE(first.received, image(1024));
    QCOMPARE(second.received, image(1024));
    // The first session's waits are spread over the second's, not done before it starts.
    const int lastFirst = int(log.lastIndexOf(QStringLiteral("first")));
    const int firstSecond = int(log.indexOf(QStringLiteral("second")));
    QVERIFY2(firstSecond < lastFirst / 2, qPrintable(log.join(' ')));
}

void tst_Update::reportFormat_data()
{
    QTest::addColumn<qint64>("elapsed");
    QTest::addColumn<QString>("text");
    QTest::newRow("example") << qint64(83456) << "83456ms(1min 23sec 456msec)";
    QTest::newRow("zero") << qint64(0) << "0ms(0min 0sec 0msec)";
    QTest::newRow("hour") << qint64(3600000) << "3600000ms(60min 0sec 0msec)";
}

void tst_Update::reportFormat()
{
    QFETCH(qint64, elapsed);
    QFETCH(QString, text);
    QCOMPARE(UpdateSession::formatElapsed(elapsed), text);
}

void tst_Update::secondRunWhileRunningIsRefused()
{
    FakeBootloader device;
    RecordingReporter reporter;
    UpdateSession session(device, reporter);
    UpdateOutcome second = UpdateOutcome::Success;
    const QByteArray firmware = image(256);
    bool pressedAgain = false;
    device.onWait = [&] {
        if (!std::exchange(pressedAgain, true))
            second = session.run(firmware);
    };
    QCOMPARE(session.run(firmware), UpdateOutcome::Success);
    QCOMPARE(second, UpdateOutcome::Busy);
    QCOMPARE(reporter.count(QStringLiteral("update already running, request ignored")), 1);
    QCOMPARE(device.bootEntries, 1);
    QVERIFY(!session.isRunning());
}

void tst_Update::abortEndsTheSessionWithTheReport()
{
    FakeBootloader device;
    RecordingReporter reporter;
    UpdateSession session(device, reporter);
    int waits = 0;
    device.onWait = [&] {
        if (++waits == 4)
            session.requestAbort(
                {UpdateFailure::Kind::StoppedBySignal, QStringLiteral("stopped by signal 15")});
    };
    const QByteArray firmware = image(1024);
    QCOMPARE(session.run(firmware), UpdateOutcome::Failed);
    QVERIFY(device.cancels > 0);
    QCOMPARE(reporter.lines.at(reporter.lines.size() - 2), QStringLiteral("stopped by signal 15"));
    QCOMPARE(session.failureReason(), QStringLiteral("stopped by signal 15"));
    QCOMPARE(session.failure().kind, UpdateFailure::Kind::StoppedBySignal);
    QVERIFY(reporter.reported());
    // The answer already on its way to the aborted wait is not taken.
    QCOMPARE(device.frames.size(), 3);
    QCOMPARE(reporter.lines.filter(QStringLiteral("get buffer:")).size(), 2);

    // A request while nothing runs is forgotten, not carried into the next run.
    session.requestAbort({UpdateFailure::Kind::StoppedByUser, QStringLiteral("update aborted")});
    device.onWait = nullptr;
    QCOMPARE(session.run(firmware), UpdateOutcome::Success);
}

void tst_Update::unusableLinkEndsTheSessionAtOnce_data()
{
    QTest::addColumn<int>("failAtWait"); // 0: before the session starts
    QTest::addColumn<bool>("gateway");
    QTest::addColumn<UpdateFailure::Kind>("kind");
    QTest::newRow("port closed at the start") << 0 << false << UpdateFailure::Kind::LinkLost;
    QTest::newRow("port lost while connecting") << 1 << false << UpdateFailure::Kind::LinkLost;
    QTest::newRow("port lost during the transfer") << 3 << false << UpdateFailure::Kind::LinkLost;
    QTest::newRow("broker down at the start") << 0 << true << UpdateFailure::Kind::BrokerUnavailable;
    QTest::newRow("broker lost during the transfer") << 3 << true << UpdateFailure::Kind::LinkLost;
}

void tst_Update::unusableLinkEndsTheSessionAtOnce()
{
    QFETCH(int, failAtWait);
    QFETCH(bool, gateway);
    const QString reason = QStringLiteral("serial port /dev/ttyX lost: the device was removed");
    Run run;
    run.device.gateway = gateway;
    int waits = 0;
    if (failAtWait == 0)
        run.device.unavailable = reason;
    run.device.onWait = [&] {
        if (++waits == failAtWait) {
            run.device.unavailable = reason;
            run.device.scripted.insert(run.device.frames.size(), QByteArray());
            run.device.bootScripted.insert(run.device.bootEntries, QByteArray());
        }
    };
    QCOMPARE(run.start(image(1024)), UpdateOutcome::Failed);
    QCOMPARE(waits, failAtWait);
    QCOMPARE(run.failureReason, reason);
    QTEST(run.failureKind, "kind");
    QCOMPARE(run.reporter.lines.at(run.reporter.lines.size() - 2), reason);
    QVERIFY(run.reporter.reported());
    // What ended the wait was the link, not the device: no time-out is claimed.
    QCOMPARE(run.reporter.lines.filter(QStringLiteral("timeout")).size(), 0);
    QCOMPARE(run.reporter.lines.filter(QStringLiteral("trying to connect device")).size(),
             failAtWait ? 1 : 0);
}

void tst_Update::shortSplitLenReplyIsNotRead()
{
    Run run;
    // A whole frame with a good CRC, but one byte short of the fields.
    run.device.bootScripted.insert(0, BootFrame::makeBootFrame(BootCmd::SplitLen, QByteArray(9, '\x01')));
    QCOMPARE(run.start(image(256)), UpdateOutcome::Success);
    QCOMPARE(run.device.bootEntries, 2);
    QVERIFY(run.reporter.hasLineStarting(QStringLiteral("SPLIT LEN request too short")));
    QCOMPARE(run.reporter.count(QStringLiteral("get splitLen: 256")), 1);
}

void tst_Update::shortRepliesAreNotReadPastEnd()
{
    Run run;
    run.device.bootScripted.insert(0, bytes({0x01}));
    run.device.scripted.insert(1, bytes({0x03, 0x00}));
    run.device.scripted.insert(2, bytes({0x03, 0x00, 0xFB})); // RETURN FAIL without its code: no frame
    run.device.scripted.insert(5, bytes({0x03, 0x00}));       // answer to the check
    QCOMPARE(run.start(image(256)), UpdateOutcome::Success);
    QCOMPARE(run.reporter.count(QStringLiteral("get buffer:0300")), 2);
    QCOMPARE(run.reporter.count(QStringLiteral("------------------error  1168")), 0);
}

void tst_Update::longReplyShownInPart()
{
    Run run;
    const QByteArray noise(1000000, '\x5a');
    run.device.scripted.insert(1, noise);
    QCOMPARE(run.start(image(256)), UpdateOutcome::Success);
    const QString line = QStringLiteral("get buffer:") + QString::fromLatin1(noise.left(64).toHex()) +
                         QStringLiteral("... (1000000 bytes)");
    QCOMPARE(run.reporter.count(line), 1);
}

void tst_Update::consoleReturnCodeOnShortReply_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("trace");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("3 bytes") << bytes({0x03, 0x00, 0xFB}) << QString();
    QTest::newRow("4 bytes") << bytes({0x03, 0x00, 0xFB, 0x85}) << QString();
    QTest::newRow("wrong crc") << bytes({0x03, 0x00, 0xFB, 0x85, 0x00}) << QString();
    QTest::newRow("not a fail") << reply(BootCmd::FirmwareContinue, 0x85) << QString();
    QTest::newRow("code 5 flagged") << reply(BootCmd::ReturnFail, 0x85) << "FIRMWARE LEN ERROR";
    QTest::newRow("longer reply") << reply(BootCmd::ReturnFail, 0x02) + "xyz"
                                  << "CRC CHECK ERROR";
    QTest::newRow("no name") << reply(BootCmd::ReturnFail, 0x7F) << "UNKNOWN 127";
}

void tst_Update::consoleReturnCodeOnShortReply()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, trace);
    TraceCapture capture;
    UpdateSession::consoleReturnCode(answer);
    if (trace.isEmpty()) {
        QVERIFY(capture.lines().isEmpty());
    } else {
        QCOMPARE(capture.lines().size(), 1);
        QVERIFY(capture.lines().first().contains(QStringLiteral("bootloader return fail []")));
        QVERIFY(capture.lines().first().contains(trace));
    }
}

void tst_Update::unusableParametersEndSession_data()
{
    QTest::addColumn<int>("splitLen");
    QTest::addColumn<int>("uartLen");
    QTest::newRow("splitLen 0") << 0 << 128;
    QTest::newRow("uartLen 0") << 256 << 0;
    QTest::newRow("both 0") << 0 << 0;
    QTest::newRow("packet frame above 16 bits") << 0xFFFF << 0xFFF8;
}

void tst_Update::unusableParametersEndSession()
{
    QFETCH(int, splitLen);
    QFETCH(int, uartLen);
    Run run;
    run.device.params.splitLen = uint16_t(splitLen);
    run.device.params.uartLen = uint16_t(uartLen);
    QCOMPARE(run.start(image(1000)), UpdateOutcome::Failed);
    QVERIFY(run.device.frames.isEmpty());
    QVERIFY(run.reporter.hasLineStarting(QStringLiteral("device parameters unusable: ")));
    QVERIFY(run.reporter.reported());
}

void tst_Update::packetFrameSizedFromUartLen()
{
    Run run;
    run.device.params.splitLen = 0xFFF7;
    run.device.params.uartLen = 0xFFF7;
    const QByteArray firmware = image(5000);
    QCOMPARE(run.start(firmware), UpdateOutcome::Success);
    QCOMPARE(run.device.frames.at(1).size(), 0xFFFF);
    QCOMPARE(run.device.badFrames, 0);
    QCOMPARE(run.device.received, padded(firmware, 0xFFF7));
}

void tst_Update::packetRepeatsAreBounded()
{
    Run run;
    for (int frame = 1; frame <= 11; ++frame)
        run.device.scripted.insert(frame, reply(BootCmd::RequestFirmware));
    QCOMPARE(run.start(image(256)), UpdateOutcome::Failed);
    QCOMPARE(run.device.frames.size(), 12);
    QVERIFY(run.reporter.hasLineStarting(QStringLiteral("packet 0 of split 0 refused 11 times")));
    QVERIFY(run.reporter.reported());

    // Ten repeats are still allowed.
    Run tolerated;
    for (int frame = 1; frame <= 10; ++frame)
        tolerated.device.scripted.insert(frame, reply(BootCmd::RequestFirmware));
    QCOMPARE(tolerated.start(image(256)), UpdateOutcome::Success);
}

void tst_Update::splitRewindsAreBounded_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("atCheck");
    QTest::newRow("0x85 on packet") << reply(BootCmd::ReturnFail, BootReturn::RewindSplit) << false;
    QTest::newRow("0x85 on check") << reply(BootCmd::ReturnFail, BootReturn::RewindSplit) << true;
    QTest::newRow("other on check") << reply(BootCmd::RequestFirmware) << true;
}

void tst_Update::splitRewindsAreBounded()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, atCheck);
    Run run;
    // Split of one packet: frames alternate packet, check after FIRMWARE LEN.
    run.device.params.uartLen = 256;
    for (int frame = 1; frame < 200; ++frame)
        if (atCheck ? frame % 2 == 0 : frame % 2 == 1)
            run.device.scripted.insert(frame, answer);
    QCOMPARE(run.start(image(256)), UpdateOutcome::Failed);
    QVERIFY(run.reporter.hasLineStarting(QStringLiteral("split 0 started again 10 times")));
    QCOMPARE(run.device.framesOf(BootCmd::FirmwarePacket), 11);
    QVERIFY(run.reporter.reported());
}

void tst_Update::resynchronisationsAreBounded()
{
    Run run;
    for (int frame = 1; frame < 200; frame += 2) // every first packet after FIRMWARE LEN
        run.device.scripted.insert(frame, reply(BootCmd::ReturnFail, BootReturn::CrcCheckError));
    QCOMPARE(run.start(image(256)), UpdateOutcome::Failed);
    QCOMPARE(run.reporter.count(QStringLiteral("------------------error  1168")), 11);
    QCOMPARE(run.device.framesOf(BootCmd::FirmwareLen), 11);
    QVERIFY(run.reporter.hasLineStarting(QStringLiteral("device restarted its request 10 times")));
    QVERIFY(run.reporter.reported());
}

void tst_Update::remainingCountDoesNotWrap()
{
    Run run;
    for (int frame : {2, 4, 6})
        run.device.scripted.insert(frame, reply(BootCmd::ReturnFail, BootReturn::RewindSplit));
    QCOMPARE(run.start(image(256)), UpdateOutcome::Success);
    const QVector<qint64> remaining = run.reporter.remainingCounts();
    QCOMPARE(remaining, (QVector<qint64>{256, 128, 128, 0, 0, 0, 0, 0}));
}

void tst_Update::bootEntryTexts()
{
    QCOMPARE(ModuleCommand::configMode(), QByteArray::fromHex("0326018e"));
    QCOMPARE(ModuleCommand::intoBoot(), QByteArray::fromHex("0353016d"));
    QCOMPARE(
        GatewayMessages::serialBootText(),
        QByteArray(R"({"method":"thing/gw/config/set","sys":{"ack":1,"src":"ext"},"params":[{"boot":1}]})"));
    QCOMPARE(GatewayMessages::bootTopic(QStringLiteral("G1")), QStringLiteral("thing/G1/gw/config/set"));
    QCOMPARE(
        GatewayMessages::bootMessage(),
        QByteArray(R"({"method":"thing/gw/config/set","sys":{"src":"sv","ack":1},"params":[{"boot":1}]})"));
}

void tst_Update::estimates_data()
{
    QTest::addColumn<qint64>("imageBytes");
    QTest::addColumn<int>("splitLen");
    QTest::addColumn<int>("packetLen");
    QTest::addColumn<qint64>("exchanges");
    QTest::addColumn<qint64>("serialMsAt115200"); // without turnaround
    // 64 KiB: 64 splits of 8 packets, their checks, FIRMWARE LEN and OVER.
    QTest::newRow("64 KiB") << qint64(65536) << 1024 << 128 << qint64(578) << qint64(6325);
    // The last split is padded to a whole one; a packet longer than the split is never sent.
    QTest::newRow("padded") << qint64(1000) << 256 << 128 << qint64(14) << qint64(104);
    QTest::newRow("packet longer than the split") << qint64(512) << 256 << 300 << qint64(4) << qint64(4);
}

void tst_Update::estimates()
{
    QFETCH(qint64, imageBytes);
    QFETCH(int, splitLen);
    QFETCH(int, packetLen);
    const UpdateEstimate estimate(imageBytes, splitLen, packetLen);
    QTEST(estimate.exchanges(), "exchanges");
    QTEST(estimate.serialMs(115200, 0), "serialMsAt115200");
    QCOMPARE(estimate.gatewayMs(20), estimate.exchanges() * 20);
    QCOMPARE(UpdateEstimate::text(estimate.gatewayMs(-1)), QStringLiteral("—"));
}

// Runs a fleet of fake devices; the devices named in `failing` refuse FIRMWARE LEN, and a
// device named "absent" has no link at all.
struct FleetRun
{
    FleetRun(QStringList names, QStringList failing) : names(std::move(names)), failing(std::move(failing)) {}

    QStringList names;
    QStringList failing;
    std::vector<std::unique_ptr<RecordingReporter>> reporters;
    int runningNow = 0;
    int mostRunning = 0;
    QStringList startOrder;

    std::unique_ptr<FleetRunner> make(FleetPolicy policy)
    {
        for (int i = 0; i < names.size(); ++i)
            reporters.push_back(std::make_unique<RecordingReporter>());
        auto runner = std::make_unique<FleetRunner>(
            names, policy,
            [this](int index, UpdateFailure *problem) -> std::unique_ptr<UpdateLink> {
                if (names.at(index) == QLatin1String("absent")) {
                    *problem = {UpdateFailure::Kind::LinkLost, QStringLiteral("cannot open port absent")};
                    return nullptr;
                }
                auto device = std::make_unique<FakeBootloader>();
                if (failing.contains(names.at(index)))
                    device->scripted.insert(0, reply(BootCmd::ReturnFail, BootReturn::FirmwareLenError));
                device->restartAfterFail = false;
                return device;
            },
            [this](int index) -> UpdateReporter & { return *reporters.at(size_t(index)); });
        QObject::connect(runner.get(), &FleetRunner::targetStarted, [this](int index) {
            startOrder << names.at(index);
            mostRunning = qMax(mostRunning, ++runningNow);
        });
        QObject::connect(runner.get(), &FleetRunner::targetFinished, [this, r = runner.get()](int index) {
            if (r->result(index) != FleetResult::Skipped)
                --runningNow;
        });
        return runner;
    }

    static QString results(const FleetRunner &runner)
    {
        QStringList out;
        for (int i = 0; i < runner.size(); ++i)
            out << QStringLiteral("%1:%2").arg(runner.name(i)).arg(int(runner.result(i)));
        return out.join(' ');
    }
};

void tst_Update::fleetPolicies_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("failing");
    QTest::addColumn<int>("parallel");
    QTest::addColumn<int>("canary");
    QTest::addColumn<int>("maxFailures");
    QTest::addColumn<QString>("results"); // per target: 2 success, 3 failed, 4 skipped
    QTest::addColumn<int>("mostRunning");

    const QStringList five{"a", "b", "c", "d", "e"};
    QTest::newRow("all at once, one fails alone")
        << five << QStringList{"c"} << 0 << 0 << 0 << "a:2 b:2 c:3 d:2 e:2" << 5;
    QTest::newRow("parallel cap holds") << five << QStringList() << 2 << 0 << 0 << "a:2 b:2 c:2 d:2 e:2" << 2;
    QTest::newRow("canary fails: the rest is skipped")
        << five << QStringList{"b"} << 0 << 2 << 0 << "a:2 b:3 c:4 d:4 e:4" << 2;
    QTest::newRow("canaries succeed: the rest follows")
        << five << QStringList() << 0 << 2 << 0 << "a:2 b:2 c:2 d:2 e:2" << 3;
    QTest::newRow("no further start after max failures")
        << five << QStringList{"a", "b"} << 1 << 0 << 2 << "a:3 b:3 c:4 d:4 e:4" << 1;
    QTest::newRow("a target without a link fails alone")
        << QStringList{"a", "absent", "c"} << QStringList() << 0 << 0 << 0 << "a:2 absent:3 c:2" << 2;
}

void tst_Update::fleetPolicies()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, failing);
    QFETCH(int, parallel);
    QFETCH(int, canary);
    QFETCH(int, maxFailures);
    FleetRun run(names, failing);
    std::unique_ptr<FleetRunner> runner = run.make({parallel, canary, maxFailures});
    QSignalSpy finished(runner.get(), &FleetRunner::finished);
    runner->start(image(1024));
    QTRY_COMPARE(finished.count(), 1);
    QTEST(FleetRun::results(*runner), "results");
    QTEST(run.mostRunning, "mostRunning");
    QCOMPARE(run.startOrder, names.mid(0, run.startOrder.size()));
    // A target that never started was held back, never failed.
    for (int i = 0; i < runner->size(); ++i) {
        QCOMPARE(runner->reason(i).isEmpty(), runner->result(i) == FleetResult::Success);
        QCOMPARE(runner->failure(i).kind == UpdateFailure::Kind::HeldBack,
                 runner->result(i) == FleetResult::Skipped);
    }
}

void tst_Update::fleetAbortEndsRunningAndSkipsTheRest()
{
    FleetRun run({"a", "b", "c"}, {});
    std::unique_ptr<FleetRunner> runner = run.make({2, 0, 0});
    QSignalSpy finished(runner.get(), &FleetRunner::finished);
    runner->start(image(4096));
    runner->abortAll({UpdateFailure::Kind::StoppedBySignal, QStringLiteral("stopped by signal 2")});
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(FleetRun::results(*runner), QStringLiteral("a:3 b:3 c:4"));
    for (int i = 0; i < runner->size(); ++i)
        QVERIFY(runner->reason(i) == QStringLiteral("stopped by signal 2") &&
                runner->failure(i).kind == UpdateFailure::Kind::StoppedBySignal);
    QCOMPARE(run.reporters.at(0)->lines.at(run.reporters.at(0)->lines.size() - 2),
             QStringLiteral("stopped by signal 2"));
}

void tst_Update::deviceGateDecidesBeforeTheImage_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("outcome");
    QTest::newRow("let through") << QString() << int(UpdateOutcome::Success);
    QTest::newRow("declined") << QStringLiteral("already has it, waits in its bootloader")
                              << int(UpdateOutcome::Skipped);
}

void tst_Update::deviceGateDecidesBeforeTheImage()
{
    QFETCH(QString, answer);
    FakeBootloader device;
    RecordingReporter reporter;
    UpdateSession session(device, reporter);
    QStringList asked;
    QSignalSpy announced(&session, &UpdateSession::deviceAnnounced);
    session.setDeviceGate([&](const QString &address) {
        asked << address;
        return answer;
    });
    QTEST(int(session.run(image(512))), "outcome");
    QCOMPARE(asked, QStringList{"00A1B2C3"});
    QCOMPARE(announced.count(), 1);
    QCOMPARE(session.stats().device, QStringLiteral("00A1B2C3"));
    if (answer.isEmpty())
        return;
    QVERIFY(device.frames.isEmpty());
    QCOMPARE(session.failure().kind, UpdateFailure::Kind::AlreadyDone);
    QVERIFY(reporter.lines.contains(answer));
}

void tst_Update::statsCountWhatHappened()
{
    FakeBootloader device;
    RecordingReporter reporter;
    // Frame 2 (packet 1 of split 0) is silent once, then split 0 is rewound after packet 1.
    device.scripted.insert(2, QByteArray());
    device.scripted.insert(3, reply(BootCmd::ReturnFail, BootReturn::RewindSplit));
    device.bootScripted.insert(0, QByteArray());
    UpdateSession session(device, reporter);
    QCOMPARE(session.run(image(512)), UpdateOutcome::Success);
    const UpdateStats stats = session.stats();
    QCOMPARE(stats.connectAttempts, 2);
    QCOMPARE(stats.timeouts, 1);
    // Packet 1 again after its time-out, then packets 0 and 1 of the rewound split.
    QCOMPARE(stats.repeats, 3);
    QCOMPARE(stats.bytesAcked, quint64(512));
    QCOMPARE(stats.splitLen, 256);
    QCOMPARE(stats.packetLen, 128);
}

void tst_Update::fleetRetriesLinkFailuresOnly_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("tries");
    QTest::newRow("port missing, retried") << "absent" << 2 << 3;
    QTest::newRow("no retries asked") << "absent" << 0 << 1;
    QTest::newRow("refused, never retried") << "refusing" << 2 << 1;
}

void tst_Update::fleetRetriesLinkFailuresOnly()
{
    QFETCH(QString, target);
    QFETCH(int, retries);
    FleetRun run({target}, {"refusing"});
    FleetPolicy policy;
    policy.retries = retries;
    std::unique_ptr<FleetRunner> runner = run.make(policy);
    QSignalSpy finished(runner.get(), &FleetRunner::finished);
    QSignalSpy tryStarted(runner.get(), &FleetRunner::tryStarted);
    QSignalSpy tryFinished(runner.get(), &FleetRunner::tryFinished);
    QSignalSpy targetFinished(runner.get(), &FleetRunner::targetFinished);
    runner->start(image(512));
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 30000);
    QTEST(runner->tries(0), "tries");
    QCOMPARE(tryStarted.count(), runner->tries(0));
    QCOMPARE(tryFinished.count(), runner->tries(0));
    for (int i = 0; i < tryFinished.count(); ++i)
        QCOMPARE(tryFinished.at(i).at(1).toBool(), i + 1 < tryFinished.count());
    QCOMPARE(targetFinished.count(), 1);
    QCOMPARE(runner->result(0), FleetResult::Failed);
}

QTEST_GUILESS_MAIN(tst_Update)
#include "tst_update.moc"
