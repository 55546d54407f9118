// The serial channel without widgets: how received bytes become replies (the cutter on
// its own, then the channel on a real pty), what a reply may answer, closed and lost ports.
#include "protocol/bootframe.h"
#include "serial/replycutter.h"
#include "serial/serialchannel.h"
#include "tests/support/pty.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

namespace {

using Pieces = QList<QPair<int, QByteArray>>; // (pause before it in ms, bytes)

QByteArray frame(uint8_t command, uint8_t code = 0)
{
    return BootFrame::makeBootFrame(command, QByteArray(1, char(code)));
}

const QByteArray kContinue = frame(BootCmd::FirmwareContinue);
const QByteArray kModuleAnswer = QByteArray::fromHex("0353006a");

QByteArray splitLenRequest()
{
    BootFrame::SplitLenRequest request;
    request.command = BootCmd::SplitLen;
    request.splitLen = 256;
    request.uartLen = 128;
    return BootFrame::encodeSplitLenRequest(request);
}

QList<QByteArray> takeAll(ReplyCutter &cutter)
{
    QList<QByteArray> replies;
    while (cutter.hasReply())
        replies << cutter.takeReply();
    return replies;
}

// Everything received has become these replies: no burst is left to cut or drop.
bool settledInto(const ReplyCutter &cutter, const QList<QByteArray> &replies)
{
    QByteArray joined;
    for (const QByteArray &reply : replies)
        joined += reply;
    return cutter.queuedReplies() == replies.size() && cutter.untakenBytes() == joined;
}

} // namespace

class tst_Serial : public QObject
{
    Q_OBJECT

private slots:
    void cutting_data();
    void cutting();
    void discardingWhatCameBefore();
    void fullReplyQueueDropsTheOldest();

    void replyInPiecesWhileReceiverHeldUp_data();
    void replyInPiecesWhileReceiverHeldUp();
    void twoRepliesBeforeAReadComeOutInOrder();
    void replyBeforeAWriteIsNoAnswer();
    void lostPtyClosesPortOnce();
    void deviceInUseUnderAnotherName();
    void presenceScan_data();
    void presenceScan();

private:
    static void openOnPty(SerialChannel &channel, const Pty &pty, qint32 baud);
};

void tst_Serial::openOnPty(SerialChannel &channel, const Pty &pty, qint32 baud)
{
    QVERIFY(pty.isValid());
    channel.setPortName(pty.slavePath);
    channel.setSelectedPortName(pty.slavePath);
    channel.setBaudRate(baud);
    QVERIFY2(channel.openPort(), qPrintable(channel.lastOpenError()));
}

void tst_Serial::cutting_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<Pieces>("pieces");
    QTest::addColumn<QList<QByteArray>>("replies");

    const QByteArray request = splitLenRequest();
    QTest::newRow("frame in pieces") << 9600 << Pieces{{0, request.left(5)}, {2, request.mid(5)}}
                                     << QList<QByteArray>{request};
    QTest::newRow("stray bytes trailing a frame are dropped")
        << 9600 << Pieces{{0, kContinue + "\x00\x7f"}, {2, "\x55"}} << QList<QByteArray>{kContinue};
    QTest::newRow("frames a silence apart")
        << 115200 << Pieces{{0, kContinue}, {80, request}} << QList<QByteArray>{kContinue, request};
    QTest::newRow("module answer glued to the request")
        << 9600 << Pieces{{0, kModuleAnswer + request.left(3)}, {2, request.mid(3)}}
        << QList<QByteArray>{request};
    // What is no frame ends with the silence, however it came.
    QTest::newRow("module answer at 9600")
        << 9600 << Pieces{{0, kModuleAnswer}} << QList<QByteArray>{kModuleAnswer};
    QTest::newRow("text in pieces") << 9600 << Pieces{{0, "{\"boot\""}, {10, ":1}"}}
                                    << QList<QByteArray>{"{\"boot\":1}"};
    QTest::newRow("bad CRC is no frame") << 115200 << Pieces{{0, QByteArray::fromHex("0300fa0000")}}
                                         << QList<QByteArray>{QByteArray::fromHex("0300fa0000")};
    const QByteArray fail = frame(BootCmd::ReturnFail, 2);
    QTest::newRow("a frame right behind a frame")
        << 1200 << Pieces{{0, fail + request.left(4)}, {20, request.mid(4) + "\x00"}}
        << QList<QByteArray>{fail, request};
    // A USB adapter may pause longer than the silence inside one frame at high rates.
    QTest::newRow("frame with a gap longer than the silence")
        << 921600 << Pieces{{0, request.left(3)}, {30, request.mid(3)}} << QList<QByteArray>{request};
    // A lone byte is no reply of any kind: it may be the first of a frame's length field.
    QTest::newRow("frame split after its first byte")
        << 115200 << Pieces{{0, kContinue.left(1)}, {30, kContinue.mid(1)}} << QList<QByteArray>{kContinue};
    QTest::newRow("a flood is no reply, a frame after it is")
        << 115200 << Pieces{{0, QByteArray(1 << 20, '\x55')}, {0, kContinue}} << QList<QByteArray>{kContinue};
}

void tst_Serial::cutting()
{
    QFETCH(int, baud);
    QFETCH(Pieces, pieces);
    QFETCH(QList<QByteArray>, replies);
    ReplyCutter cutter;
    cutter.setBaudRate(baud);
    // A pause is what the cutter would see of it, whatever the machine's load: one shorter
    // than the silence is none, a longer one is the silence.
    for (const auto &piece : pieces) {
        if (piece.first >= cutter.silenceMs())
            cutter.silenceElapsed();
        cutter.feed(piece.second);
    }
    // However long the burst, the cutter keeps only what may still start a frame.
    QVERIFY(cutter.untakenBytes().size() <=
            ReplyCutter::kMaxScannedBurst + kContinue.size() * replies.size());
    QTRY_VERIFY(settledInto(cutter, replies));
    QCOMPARE(takeAll(cutter), replies);
}

void tst_Serial::discardingWhatCameBefore()
{
    ReplyCutter cutter;
    cutter.setBaudRate(9600);
    cutter.feed(kContinue);
    cutter.silenceElapsed();
    cutter.feed(kModuleAnswer.left(2));
    // After the boot entry frames stay; the module's answer goes, also what is still arriving.
    cutter.discardAllButFrames(QStringLiteral("in answer to the boot entry"));
    cutter.feed(kModuleAnswer.mid(2));
    QTRY_VERIFY(settledInto(cutter, {kContinue}));
    QCOMPARE(takeAll(cutter), QList<QByteArray>{kContinue});

    // After a write nothing from before is an answer, not even a frame still arriving.
    cutter.feed(kContinue);
    cutter.silenceElapsed();
    cutter.feed(splitLenRequest().left(4));
    cutter.discardReceived(QStringLiteral("before a frame was written"));
    cutter.feed(kContinue);
    QCOMPARE(takeAll(cutter), QList<QByteArray>{kContinue});
}

// A device chattering while nobody reads keeps the queue full of its newest replies, in order.
void tst_Serial::fullReplyQueueDropsTheOldest()
{
    ReplyCutter cutter;
    QList<QByteArray> sent;
    for (int i = 0; i < ReplyCutter::kMaxQueuedReplies + 3; ++i) {
        sent << BootFrame::makeBootFrame(BootCmd::FirmwareContinue, QByteArray::number(i));
        cutter.feed(sent.last());
    }
    QCOMPARE(takeAll(cutter), sent.mid(3));
}

void tst_Serial::replyInPiecesWhileReceiverHeldUp_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::newRow("frame") << splitLenRequest();
    QTest::newRow("no frame") << QByteArray("{\"ack\":1,\"x\":2}");
}

// The receiving thread is busy for 30 ms right after the first piece, while the second
// piece arrives 2 ms after the first and the silence runs out: still one reply.
void tst_Serial::replyInPiecesWhileReceiverHeldUp()
{
    QFETCH(QByteArray, reply);
    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    bool heldUp = false;
    connect(&channel, &SerialChannel::bytesReceived, this, [&] {
        if (std::exchange(heldUp, true))
            return;
        QVERIFY(pty.send(reply.mid(7)));
        QThread::msleep(30);
    });
    QSignalSpy queued(&channel, &SerialChannel::replyQueued);
    QVERIFY(pty.send(reply.left(7)));
    QVERIFY(queued.wait(2000));
    QCOMPARE(channel.takeQueuedReply(), reply);
    QVERIFY(!queued.wait(200));
    QVERIFY(!channel.hasReply());
}

void tst_Serial::twoRepliesBeforeAReadComeOutInOrder()
{
    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    const QByteArray second = frame(BootCmd::ReturnFail, 0x85);
    QVERIFY(pty.send(kContinue));
    QTRY_COMPARE(channel.queuedReplies(), 1);
    // The device answers again a while later, in a burst of its own; the order asserted holds
    // also when the pause comes out shorter on a loaded machine.
    QTest::qWait(50);
    QVERIFY(pty.send(second));
    QTRY_COMPARE(channel.queuedReplies(), 2);
    QCOMPARE(channel.takeQueuedReply(), kContinue);
    QCOMPARE(channel.takeQueuedReply(), second);
}

void tst_Serial::replyBeforeAWriteIsNoAnswer()
{
    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    QVERIFY(pty.send(kContinue + splitLenRequest().left(3)));
    QTRY_COMPARE(channel.queuedReplies(), 1);
    QSignalSpy queued(&channel, &SerialChannel::replyQueued);
    QVERIFY(channel.send(kContinue));
    QVERIFY(!queued.wait(300));
    QVERIFY(!channel.hasReply());
}

void tst_Serial::lostPtyClosesPortOnce()
{
    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    QSignalSpy lost(&channel, &SerialChannel::portLost);
    QSignalSpy openChanges(&channel, &SerialChannel::portOpenChanged);

    pty.closeMaster();
    QVERIFY(lost.wait(20000));
    QCOMPARE(lost.count(), 1);
    QVERIFY(!channel.isPortOpen());
    QVERIFY(!openChanges.isEmpty() && openChanges.last().at(0).toBool() == false);
    QVERIFY(channel.unavailableReason().contains(QStringLiteral("lost")));
    QCOMPARE(channel.portError(), SerialChannel::PortError::Lost);

    // Later writes fail at once, and no second loss is reported.
    QSignalSpy refused(&channel, &SerialChannel::sendRefused);
    QVERIFY(!channel.send(kContinue));
    QCOMPARE(refused.count(), 1);
    QVERIFY(!lost.wait(300));
    QCOMPARE(lost.count(), 1);
}

void tst_Serial::deviceInUseUnderAnotherName()
{
    Pty pty;
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyLINK"));
    QVERIFY(QFile::link(pty.slavePath, link));
    SerialChannel first;
    first.setPortName(link);
    QVERIFY2(first.openPort(), qPrintable(first.lastOpenError()));
    SerialChannel second;
    second.setPortName(pty.slavePath);
    QVERIFY(!second.openPort());
    QCOMPARE(second.portError(), SerialChannel::PortError::InUse);
    QCOMPARE(
        second.lastOpenError(),
        QStringLiteral("cannot open serial port %1: it is in use by another program").arg(pty.slavePath));
    QCOMPARE(first.portLocation(), link);
}

void tst_Serial::presenceScan_data()
{
    QTest::addColumn<bool>("selectOtherName");
    QTest::addColumn<bool>("staysOpen");
    QTest::newRow("device path that exists") << false << true;
    QTest::newRow("selected port not there") << true << false;
}

void tst_Serial::presenceScan()
{
    QFETCH(bool, selectOtherName);
    QFETCH(bool, staysOpen);

    Pty pty;
    SerialChannel channel;
    openOnPty(channel, pty, 115200);
    if (selectOtherName)
        channel.setSelectedPortName(QStringLiteral("ttyPLOVIKKIT_NOT_THERE"));
    QSignalSpy lost(&channel, &SerialChannel::portLost);

    if (staysOpen) {
        QVERIFY(!lost.wait(SerialChannel::kPresenceScanMs + 500));
        QVERIFY(channel.isPortOpen());
        QCOMPARE(lost.count(), 0);
    } else {
        QTRY_VERIFY(!channel.isPortOpen());
        QCOMPARE(lost.count(), 1);
    }
}

QTEST_GUILESS_MAIN(tst_Serial)
#include "tst_serial.moc"
