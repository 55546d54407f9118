// The in-memory broker other tests stand on: if it matched or granted differently from a real
// broker, those tests would pass against a broker nobody runs.
#include "mqtt/memorybroker.h"
#include "mqtt/memorybrokerconnection.h"

#include <QtTest>
#include <memory>

namespace {

std::unique_ptr<MemoryBrokerConnection> connected(MemoryBroker &broker)
{
    std::unique_ptr<MemoryBrokerConnection> connection(broker.createConnection());
    QSignalSpy up(connection.get(), &MqttConnection::connected);
    connection->connectToHost();
    up.wait(1000);
    return connection;
}

} // namespace

class tst_MemoryBroker : public QObject
{
    Q_OBJECT

private slots:
    void filterMatches_data();
    void filterMatches();
    void grantsRefusalsAndDelivery();
    void frozenBrokerHoldsEverythingUntilThawed();
    void stoppedBrokerLosesAndRefuses();
};

void tst_MemoryBroker::filterMatches_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<bool>("matches");

    QTest::newRow("exact") << "thing/G1/sv/a"
                           << "thing/G1/sv/a" << true;
    QTest::newRow("plus is one level") << "thing/+/sv/a"
                                       << "thing/G1/sv/a" << true;
    QTest::newRow("plus is not two levels") << "thing/+/a"
                                            << "thing/G1/sv/a" << false;
    QTest::newRow("hash is every level after") << "thing/G1/#"
                                               << "thing/G1/sv/a" << true;
    QTest::newRow("hash takes the parent too") << "thing/G1/#"
                                               << "thing/G1" << true;
    QTest::newRow("shorter topic") << "thing/G1/sv"
                                   << "thing/G1" << false;
    QTest::newRow("longer topic") << "thing/G1"
                                  << "thing/G1/sv" << false;
    QTest::newRow("empty level") << "thing//a"
                                 << "thing//a" << true;
}

void tst_MemoryBroker::filterMatches()
{
    QFETCH(QString, filter);
    QFETCH(QString, topic);
    QTEST(MemoryBroker::filterMatches(filter, topic), "matches");
}

void tst_MemoryBroker::grantsRefusalsAndDelivery()
{
    MemoryBroker broker;
    broker.refuseSubscriptions(QStringLiteral("secret/#"));
    auto receiver = connected(broker);
    QCOMPARE(receiver->state(), MqttConnection::Connected);
    MqttSettings small = receiver->settings();
    small.maximumMessageBytes = 100;
    receiver->setSettings(small);
    QSignalSpy granted(receiver.get(), &MqttConnection::subscribed);
    QVERIFY(receiver->subscribe(QStringLiteral("a/+")));
    QVERIFY(receiver->subscribe(QStringLiteral("secret/x")));
    QVERIFY(!receiver->subscribe(QStringLiteral("a/#/b")));
    QTRY_COMPARE(granted.count(), 2);
    QCOMPARE(granted.at(0).at(1).toBool(), true);
    QCOMPARE(granted.at(1).at(1).toBool(), false);

    QSignalSpy received(receiver.get(), &MqttConnection::messageReceived);
    broker.publish(QStringLiteral("a/1"), QByteArray(200, 'x'));
    broker.publish(QStringLiteral("secret/x"), "no");
    broker.publish(QStringLiteral("a/2"), "yes");
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(1).toString(), QStringLiteral("a/2"));
}

void tst_MemoryBroker::frozenBrokerHoldsEverythingUntilThawed()
{
    MemoryBroker broker;
    auto receiver = connected(broker);
    QSignalSpy granted(receiver.get(), &MqttConnection::subscribed);
    receiver->subscribe(QStringLiteral("a"));
    QVERIFY(granted.wait(1000));
    broker.setFrozen(true);
    QSignalSpy received(receiver.get(), &MqttConnection::messageReceived);
    QSignalSpy unsubscribed(receiver.get(), &MqttConnection::unsubscribed);
    broker.publish(QStringLiteral("a"), "held");
    receiver->unsubscribe(QStringLiteral("never"));
    QTest::qWait(50);
    QCOMPARE(received.count() + unsubscribed.count(), 0);
    broker.setFrozen(false);
    QTRY_COMPARE(received.count(), 1);
    QTRY_COMPARE(unsubscribed.count(), 1);
}

void tst_MemoryBroker::stoppedBrokerLosesAndRefuses()
{
    MemoryBroker broker;
    auto connection = connected(broker);
    QSignalSpy disconnected(connection.get(), &MqttConnection::disconnected);
    broker.setRunning(false);
    QVERIFY(disconnected.wait(1000));
    QCOMPARE(connection->error(), MqttConnection::ConnectionLostError);
    connection->connectToHost();
    QVERIFY(disconnected.wait(1000));
    QCOMPARE(connection->error(), MqttConnection::ConnectionRefusedError);
    broker.setRunning(true);
    broker.setCredentials(QStringLiteral("u"), QStringLiteral("p"));
    connection->connectToHost();
    QVERIFY(disconnected.wait(1000));
    QCOMPARE(connection->error(), MqttConnection::NotAuthorizedError);
}

QTEST_GUILESS_MAIN(tst_MemoryBroker)
#include "tst_memorybroker.moc"
