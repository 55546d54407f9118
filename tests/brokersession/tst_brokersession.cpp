// The broker session and the gateway fleet against the in-memory broker: a chattering gateway,
// a broker that hangs, one that is down when a fleet starts, and a refused gateway.
#include "links/brokersession.h"
#include "links/gatewayfleet.h"
#include "links/gatewayupdatelink.h"
#include "links/reconnectbackoff.h"
#include "mqtt/memorybroker.h"
#include "mqtt/memorybrokerconnection.h"
#include "protocol/bootframe.h"
#include "update/forwardingreporter.h"

#include <QtTest>
#include <memory>

namespace {

// A fleet whose targets' lines are counted; no device answers, so started targets just wait.
struct Fleet
{
    Fleet(BrokerSession &session, const QStringList &gateways, int parallel)
        : reporter([](const QString &) {}, [](qint64, qint64) {})
    {
        FleetPolicy policy;
        policy.parallel = parallel;
        fleet = std::make_unique<GatewayFleet>(session, gateways, TargetKind::DemoBoard, policy,
                                               [this](int) -> UpdateReporter & { return reporter; });
        started = std::make_unique<QSignalSpy>(&fleet->runner(), &FleetRunner::targetStarted);
    }

    ForwardingReporter reporter;
    std::unique_ptr<GatewayFleet> fleet;
    std::unique_ptr<QSignalSpy> started;
};

} // namespace

class tst_BrokerSession : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void chatterFloodIsBoundedAndOtherGatewaysAnswered();
    void silentBrokerHoldsNewTargets();
    void hungBrokerIsTriedAgainWithoutGrowingWaits();
    void fleetWaitsForABrokerThatIsDown_data();
    void fleetWaitsForABrokerThatIsDown();
    void refusedGatewayFailsAlone();

private:
    std::unique_ptr<MemoryBroker> broker;
    std::unique_ptr<MemoryBrokerConnection> connection;
    std::unique_ptr<BrokerSession> session;
};

void tst_BrokerSession::init()
{
    session.reset();
    connection.reset();
    broker = std::make_unique<MemoryBroker>();
    connection.reset(broker->createConnection());
    session = std::make_unique<BrokerSession>(*connection);
}

// 200,000 pings on one gateway's answer topic while its link waits: a few lines a second, the
// rest counted; the other gateway's answer still arrives.
void tst_BrokerSession::chatterFloodIsBoundedAndOtherGatewaysAnswered()
{
    session->connectToHost();
    session->wantGateway(QStringLiteral("GX"), this);
    session->wantGateway(QStringLiteral("GY"), this);
    QTRY_VERIFY(session->grantsSettled({"GX", "GY"}));
    GatewayUpdateLink flooded(*session, QStringLiteral("GX"), TargetKind::Gateway);
    GatewayUpdateLink quiet(*session, QStringLiteral("GY"), TargetKind::Gateway);
    QStringList lines;
    flooded.setConsole([&lines](const QString &text) { lines << text; });
    QSignalSpy answered(&quiet, &UpdateLink::replyReceived);
    flooded.awaitReply(600000);
    quiet.awaitReply(600000);
    constexpr int kFlood = 200000;
    for (int i = 0; i < kFlood; ++i)
        broker->publish(QStringLiteral("thing/GX/sv/ping"), R"({"method":"thing/sv/ping"})");
    const QByteArray frame = BootFrame::makeBootFrame(BootCmd::FirmwareContinue, QByteArray("1"));
    broker->publish(QStringLiteral("thing/GY/sv/firmware/push"),
                    R"({"params":[{"packet":")" + frame.toHex() + R"("}]})");
    QTRY_COMPARE_WITH_TIMEOUT(answered.count(), 1, 60000);
    QTRY_VERIFY(!lines.isEmpty() && lines.last().startsWith(QStringLiteral("… ")));
    QVERIFY2(lines.size() < 200, qPrintable(QString::number(lines.size())));
    int counted = 0;
    for (const QString &line : lines)
        counted += line.startsWith(QStringLiteral("… ")) ? line.section(QLatin1Char(' '), 1, 1).toInt() : 1;
    QCOMPARE(counted, kFlood);
}

// A hung broker is said to be silent within seconds, a fleet started meanwhile starts nothing until
// the broker answers again, and a stall that ends in time costs the connection nothing.
void tst_BrokerSession::silentBrokerHoldsNewTargets()
{
    session->connectToHost();
    QTRY_VERIFY(session->isAnswering());
    QTest::qWait(BrokerSession::kQuietBeforeAskingMs + 100);
    broker->setFrozen(true);
    QSignalSpy notices(session.get(), &BrokerSession::notice);
    QSignalSpy disconnected(connection.get(), &MqttConnection::disconnected);
    Fleet fleet(*session, {"S1", "S2"}, 1);
    fleet.fleet->start(QByteArray(16, 'x'));
    QVERIFY(!session->isAnswering());
    QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), BrokerSession::kAnswerDeadlineMs + 2000);
    QVERIFY2(notices.first().first().toString().contains(QStringLiteral("no answer from the broker for ")),
             qPrintable(notices.first().first().toString()));
    QCOMPARE(fleet.started->count(), 0);
    broker->setFrozen(false);
    QTRY_COMPARE_WITH_TIMEOUT(fleet.started->count(), 1, 10000);
    QCOMPARE(disconnected.count(), 0);
}

// Attempts that a hung broker takes in and never answers each wait out their own deadline; the
// waits between them must not grow as for a broker that refuses, or a thawed broker would be
// found only half a minute later.
void tst_BrokerSession::hungBrokerIsTriedAgainWithoutGrowingWaits()
{
    broker->setFrozen(true);
    QSignalSpy disconnected(connection.get(), &MqttConnection::disconnected);
    session->connectToHost();
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 2, 2 * BrokerSession::kConnectDeadlineMs + 6000);
    QCOMPARE(connection->error(), MqttConnection::BrokerSilentError);
    const auto *backoff = session->findChild<ReconnectBackoff *>();
    QVERIFY(backoff->isPending());
    QCOMPARE(backoff->delayMs(), ReconnectBackoff::kFirstDelayMs);
    broker->setFrozen(false);
    QTRY_VERIFY_WITH_TIMEOUT(session->isAnswering(), BrokerSession::kAnswerDeadlineMs + 4000);
}

void tst_BrokerSession::fleetWaitsForABrokerThatIsDown_data()
{
    QTest::addColumn<bool>("comesBack");
    QTest::newRow("back within the broker wait: the targets start") << true;
    QTest::newRow("still down: skipped, never failed") << false;
}

void tst_BrokerSession::fleetWaitsForABrokerThatIsDown()
{
    QFETCH(bool, comesBack);
    broker->setRunning(false);
    session->connectToHost();
    Fleet fleet(*session, {"D1", "D2"}, 0);
    fleet.fleet->setBrokerWaitMs(comesBack ? 60000 : 100);
    fleet.fleet->start(QByteArray(16, 'x'));
    QTRY_COMPARE(connection->state(), MqttConnection::Disconnected);
    if (comesBack) {
        broker->setRunning(true);
        QTRY_COMPARE_WITH_TIMEOUT(fleet.started->count(), 2, 10000);
        return;
    }
    QTRY_VERIFY(!fleet.fleet->isRunning());
    QCOMPARE(fleet.started->count(), 0);
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(fleet.fleet->runner().result(i), FleetResult::Skipped);
        QCOMPARE(fleet.fleet->runner().failure(i).kind, UpdateFailure::Kind::BrokerUnavailable);
    }
}

void tst_BrokerSession::refusedGatewayFailsAlone()
{
    broker->refuseSubscriptions(QStringLiteral("thing/DENIED/#"));
    session->connectToHost();
    Fleet fleet(*session, {"DENIED", "OK1"}, 0);
    fleet.fleet->start(QByteArray(16, 'x'));
    QTRY_COMPARE(fleet.fleet->runner().result(0), FleetResult::Failed);
    QVERIFY(fleet.fleet->runner().reason(0).contains(QStringLiteral("refused")));
    QCOMPARE(fleet.fleet->runner().result(1), FleetResult::Running);
    QVERIFY(session->isGatewaySubscribed(QStringLiteral("OK1")));
    QVERIFY(!session->isGatewaySubscribed(QStringLiteral("DENIED")));
    fleet.fleet->abortAll({UpdateFailure::Kind::StoppedByUser, QStringLiteral("done")});
}

QTEST_GUILESS_MAIN(tst_BrokerSession)
#include "tst_brokersession.moc"
