// The MQTT client, the gateway messages and the gateway link against a real mosquitto.
#include "brokerprocess.h"
#include "eventwait.h"
#include "gatewaymessages.h"
#include "gatewayupdatelink.h"
#include "mqttclient.h"

#include <QtTest>

namespace {

bool connectTo(MqttClient &client, quint16 port)
{
    client.setPort(port);
    client.connectToHost();
    EventWait::waitUntil([&client] { return client.state() != MqttClient::Connecting; }, 10000);
    return client.state() == MqttClient::Connected;
}

} // namespace

class tst_Mqtt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void readPacket_data();
    void readPacket();
    void publishedTopicsAndTexts_data();
    void publishedTopicsAndTexts();
    void wildcardGatewayIdCannotMakeATopic();
    void replyNotLostToAnUnrelatedMessage();
    void connectionSettings_data();
    void connectionSettings();

private:
    BrokerProcess broker;
    BrokerProcess tlsBroker;
};

void tst_Mqtt::initTestCase()
{
    QVERIFY(broker.start());
    QVERIFY(tlsBroker.start(true));
}

void tst_Mqtt::readPacket_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<bool>("isJson");
    QTest::addColumn<QByteArray>("frame"); // empty: no packet

    QTest::newRow("packet in a later element, blanks, lower case")
        << QByteArray(R"({"params":[{"boot":1},{"packet":"03 00 fa 00 1e"}]})") << true
        << QByteArray::fromHex("0300FA001E");
    QTest::newRow("odd number of digits")
        << QByteArray(R"({"params":[{"packet":"ABC"}]})") << true << QByteArray::fromHex("AB0C");
    QTest::newRow("not JSON") << QByteArray("0300FA001E") << false << QByteArray();
    QTest::newRow("packet is a number") << QByteArray(R"({"params":[{"packet":5}]})") << true << QByteArray();
    QTest::newRow("two messages run together")
        << QByteArray(R"({"params":[{"packet":"01"}]}{"params":[]})") << false << QByteArray();
}

void tst_Mqtt::readPacket()
{
    QFETCH(QByteArray, message);
    QFETCH(bool, isJson);
    QFETCH(QByteArray, frame);
    const GatewayMessages::Packet packet = GatewayMessages::readPacket(message);
    QCOMPARE(packet.isJson, isJson);
    QCOMPARE(packet.found, !frame.isEmpty());
    QCOMPARE(packet.frame, frame);
}

void tst_Mqtt::publishedTopicsAndTexts_data()
{
    QTest::addColumn<QString>("gatewayId");
    QTest::addColumn<bool>("bootRequest");
    QTest::addColumn<QString>("topic");
    QTest::addColumn<QByteArray>("message");

    QTest::newRow("FIRMWARE OVER to G1")
        << "G1" << false << "thing/G1/gw/firmware/push"
        << QByteArray(
               R"({"method":"thing/G1/gw/firmware/push","sys":{"src":"sv","ack":0},"params":[{"packet":"03000701E4"}]})");
    QTest::newRow("boot request to G1")
        << "G1" << true << "thing/G1/gw/config/set"
        << QByteArray(R"({"method":"thing/gw/config/set","sys":{"src":"sv","ack":1},"params":[{"boot":1}]})");
    QTest::newRow("empty gateway id")
        << "" << false << "thing//gw/firmware/push"
        << QByteArray(
               R"({"method":"thing//gw/firmware/push","sys":{"src":"sv","ack":0},"params":[{"packet":"03000701E4"}]})");
    QTest::newRow("quote and backslash stay inside the string")
        << R"(a"b\c)" << false << R"(thing/a"b\c/gw/firmware/push)"
        << QByteArray(
               R"({"method":"thing/a\"b\\c/gw/firmware/push","sys":{"src":"sv","ack":0},"params":[{"packet":"03000701E4"}]})");
}

void tst_Mqtt::publishedTopicsAndTexts()
{
    QFETCH(QString, gatewayId);
    QFETCH(bool, bootRequest);
    MqttClient tool;
    MqttClient listener;
    QVERIFY(connectTo(tool, broker.port()));
    QVERIFY(connectTo(listener, broker.port()));
    QSignalSpy subscribed(&listener, &MqttClient::subscribed);
    QSignalSpy received(&listener, &MqttClient::messageReceived);
    QVERIFY(listener.subscribe(QStringLiteral("thing/#")));
    QVERIFY(subscribed.wait());

    GatewayUpdateLink link(
        tool, [gatewayId] { return gatewayId; }, TargetKind::Gateway);
    QVERIFY(link.unavailableReason().isEmpty());
    if (bootRequest)
        link.sendBootEntry();
    else
        link.writeFrame("\x03\x00\x07\x01\xE4", 5);
    QVERIFY(received.wait());
    QTEST(received.at(0).at(1).toString(), "topic");
    QTEST(received.at(0).at(0).toByteArray(), "message");
}

void tst_Mqtt::wildcardGatewayIdCannotMakeATopic()
{
    MqttClient tool;
    QVERIFY(connectTo(tool, broker.port()));
    for (const QString id : {"+", "G#1"}) {
        GatewayUpdateLink link(
            tool, [id] { return id; }, TargetKind::Gateway);
        QVERIFY2(link.unavailableReason().contains(QStringLiteral("cannot stand in an MQTT topic")),
                 qPrintable(link.unavailableReason()));
    }
}

// A gateway sends a ping in the same moment as its answer: both are read, each on its own.
void tst_Mqtt::replyNotLostToAnUnrelatedMessage()
{
    MqttClient tool;
    MqttClient gateway;
    QVERIFY(connectTo(tool, broker.port()));
    QVERIFY(connectTo(gateway, broker.port()));
    QSignalSpy subscribed(&tool, &MqttClient::subscribed);
    // Still subscribed to a gateway chosen earlier: its answers are no answer of G1.
    for (const QString &topic : GatewayMessages::subscriptionTopics(QStringLiteral("G1")) +
                                    GatewayMessages::subscriptionTopics(QStringLiteral("G2")))
        QVERIFY(tool.subscribe(topic));
    QSignalSpy gatewaySubscribed(&gateway, &MqttClient::subscribed);
    QVERIFY(gateway.subscribe(QStringLiteral("thing/G1/gw/firmware/push")));
    QTRY_VERIFY(subscribed.count() == 12 && gatewaySubscribed.count() == 1);
    connect(&gateway, &MqttClient::messageReceived, this, [&gateway] {
        gateway.publish(QStringLiteral("thing/G2/sv/firmware/push"),
                        R"({"params":[{"packet":"0300060000"}]})");
        gateway.publish(QStringLiteral("thing/G1/sv/ping"),
                        R"({"method":"thing/sv/ping","params":[{"seq":1}]})");
        gateway.publish(QStringLiteral("thing/G1/sv/firmware/push"),
                        R"({"params":[{"packet":"0300FA001E"}]})");
    });

    GatewayUpdateLink link(
        tool, [] { return QStringLiteral("G1"); }, TargetKind::Gateway);
    QStringList shown;
    link.setConsole([&shown](const QString &text) { shown << text; });
    link.writeFrame("\x03\x00\x07\x01\xE4", 5);
    QCOMPARE(link.waitReply(5000), QByteArray::fromHex("0300FA001E"));
    QCOMPARE(shown.size(), 2);
}

void tst_Mqtt::connectionSettings_data()
{
    QTest::addColumn<QString>("brokerKind"); // plain, tls or none
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("trustBrokerCertificate");
    QTest::addColumn<bool>("connects");

    QTest::newRow("plain") << "plain" << false << false << true;
    QTest::newRow("TLS asked of a plain broker") << "plain" << true << false << false;
    QTest::newRow("TLS trusting the broker's CA file") << "tls" << true << true << true;
    QTest::newRow("TLS trusting only the system's certificates") << "tls" << true << false << false;
    QTest::newRow("plain to a TLS broker") << "tls" << false << false << false;
    QTest::newRow("TLS where nobody listens") << "none" << true << false << false;
}

// The TLS switch and the CA file reach the connection; a failure says why.
void tst_Mqtt::connectionSettings()
{
    QFETCH(QString, brokerKind);
    QFETCH(bool, tls);
    QFETCH(bool, trustBrokerCertificate);
    const quint16 port = brokerKind == QLatin1String("plain") ? broker.port()
                         : brokerKind == QLatin1String("tls") ? tlsBroker.port()
                                                              : BrokerProcess::unusedPort();
    MqttClient client;
    client.setTls(tls, trustBrokerCertificate ? tlsBroker.caFile() : QString());
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    QTEST(connectTo(client, port), "connects");
    QVERIFY(client.state() == MqttClient::Connected || !client.errorString().isEmpty());
    QCOMPARE(client.subscribe(QStringLiteral("x")), client.state() == MqttClient::Connected);
    QCOMPARE(disconnected.count(), client.state() == MqttClient::Connected ? 0 : 1);
}

QTEST_GUILESS_MAIN(tst_Mqtt)
#include "tst_mqtt.moc"
