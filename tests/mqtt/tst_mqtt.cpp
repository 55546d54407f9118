// The MQTT client, the gateway messages and the gateway link against a real mosquitto.
#include "core/eventwait.h"
#include "links/brokersession.h"
#include "links/gatewayupdatelink.h"
#include "mqtt/memorybroker.h"
#include "mqtt/memorybrokerconnection.h"
#include "mqtt/mqttclient.h"
#include "protocol/bootframe.h"
#include "protocol/gatewaymessages.h"
#include "tests/support/brokerprocess.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

bool connectTo(MqttConnection &client, quint16 port = 0)
{
    client.setPort(port);
    client.connectToHost();
    EventWait::waitUntil([&client] { return client.state() != MqttClient::Connecting; }, 10000);
    return client.state() == MqttClient::Connected;
}

// An answer the gateway may publish, numbered, made larger by a member nobody reads.
QByteArray numberedAnswer(int number, int padding)
{
    const QByteArray frame = BootFrame::makeBootFrame(BootCmd::FirmwareContinue, QByteArray::number(number));
    return R"({"params":[{"packet":")" + frame.toHex() + R"("}],"pad":")" + QByteArray(padding, 'x') +
           R"("})";
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
    void gatewayIdThatCannotMakeATopic();
    void replyNotLostToAnUnrelatedMessage();
    void oldMessagesAnswerNoConnectAttempt_data();
    void oldMessagesAnswerNoConnectAttempt();
    void whatNobodyWaitsForIsBounded();
    void whatNobodyWaitsForKeepsTheNewest_data();
    void whatNobodyWaitsForKeepsTheNewest();
    void lateAnswersStayWithTheirFrames();
    void connectionSettings_data();
    void connectionSettings();
    void oversizedMessagesAreDroppedByTheBroker();
    void brokerOfMqtt311IsStillSpokenTo();

private:
    // The gateway link's own behaviour is tested through the in-memory broker; the client's
    // against real ones.
    MemoryBroker memory;
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
        << QByteArray(R"({"params":[{"packet":"0300FA001"}]})") << true << QByteArray();
    QTest::newRow("sign and tab read as digits by a lenient parser")
        << QByteArray(R"({"params":[{"packet":"+300FA001E"}]})") << true << QByteArray();
    QTest::newRow("hexadecimal but no frame")
        << QByteArray(R"({"params":[{"packet":"0300FA001F"}]})") << true << QByteArray();
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
    if (packet.found)
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
    QTest::newRow("quote and backslash stay inside the string")
        << R"(a"b\c)" << false << R"(thing/a"b\c/gw/firmware/push)"
        << QByteArray(
               R"({"method":"thing/a\"b\\c/gw/firmware/push","sys":{"src":"sv","ack":0},"params":[{"packet":"03000701E4"}]})");
}

void tst_Mqtt::publishedTopicsAndTexts()
{
    QFETCH(QString, gatewayId);
    QFETCH(bool, bootRequest);
    std::unique_ptr<MqttConnection> tool(memory.createConnection());
    std::unique_ptr<MqttConnection> listener(memory.createConnection());
    QVERIFY(connectTo(*tool));
    QVERIFY(connectTo(*listener));
    QSignalSpy subscribed(listener.get(), &MqttConnection::subscribed);
    QSignalSpy received(listener.get(), &MqttConnection::messageReceived);
    QVERIFY(listener->subscribe(QStringLiteral("thing/#")));
    QVERIFY(subscribed.wait());

    BrokerSession session(*tool);
    GatewayUpdateLink link(session, gatewayId, TargetKind::Gateway);
    QVERIFY(link.unavailableReason().isEmpty());
    if (bootRequest)
        link.sendBootEntry();
    else
        link.writeFrame(QByteArray::fromHex("03000701E4"));
    QVERIFY(received.wait());
    QTEST(received.at(0).at(1).toString(), "topic");
    QTEST(received.at(0).at(0).toByteArray(), "message");
}

void tst_Mqtt::gatewayIdThatCannotMakeATopic()
{
    std::unique_ptr<MqttConnection> tool(memory.createConnection());
    QVERIFY(connectTo(*tool));
    BrokerSession session(*tool);
    for (const QString id : {"+", "G#1", ""}) {
        GatewayUpdateLink link(session, id, TargetKind::Gateway);
        QVERIFY2(!link.unavailableReason().isEmpty(), qPrintable(id));
    }
}

// A gateway sends a ping in the same moment as its answer: both are read, each on its own.
void tst_Mqtt::replyNotLostToAnUnrelatedMessage()
{
    std::unique_ptr<MqttConnection> tool(memory.createConnection());
    std::unique_ptr<MqttConnection> gateway(memory.createConnection());
    QVERIFY(connectTo(*tool));
    QVERIFY(connectTo(*gateway));
    QSignalSpy subscribed(tool.get(), &MqttConnection::subscribed);
    // Still subscribed to a gateway chosen earlier: its answers are no answer of G1.
    for (const QString &topic : GatewayMessages::subscriptionTopics(QStringLiteral("G1")) +
                                    GatewayMessages::subscriptionTopics(QStringLiteral("G2")))
        QVERIFY(tool->subscribe(topic));
    QSignalSpy gatewaySubscribed(gateway.get(), &MqttConnection::subscribed);
    QVERIFY(gateway->subscribe(QStringLiteral("thing/G1/gw/firmware/push")));
    QTRY_VERIFY(subscribed.count() == 12 && gatewaySubscribed.count() == 1);
    MqttConnection *device = gateway.get();
    connect(device, &MqttConnection::messageReceived, this, [device] {
        device->publish(QStringLiteral("thing/G2/sv/firmware/push"),
                        R"({"params":[{"packet":"0300060000"}]})");
        device->publish(QStringLiteral("thing/G1/sv/ping"),
                        R"({"method":"thing/sv/ping","params":[{"seq":1}]})");
        device->publish(QStringLiteral("thing/G1/sv/firmware/push"),
                        R"({"params":[{"packet":"0300FA001E"}]})");
    });

    BrokerSession session(*tool);
    GatewayUpdateLink link(session, QStringLiteral("G1"), TargetKind::Gateway);
    QStringList shown;
    link.setConsole([&shown](const QString &text) { shown << text; });
    QSignalSpy replies(&link, &UpdateLink::replyReceived);
    link.writeFrame(QByteArray::fromHex("03000701E4"));
    link.awaitReply(5000);
    QVERIFY(replies.wait());
    QCOMPARE(replies.at(0).at(0).toByteArray(), QByteArray::fromHex("0300FA001E"));
    QCOMPARE(shown.size(), 2);
}

void tst_Mqtt::oldMessagesAnswerNoConnectAttempt_data()
{
    QTest::addColumn<int>("target");
    QTest::newRow("demo board") << int(TargetKind::DemoBoard);
    QTest::newRow("gateway") << int(TargetKind::Gateway);
}

// A request the device sent while no session ran is no answer to a new connect attempt.
void tst_Mqtt::oldMessagesAnswerNoConnectAttempt()
{
    QFETCH(int, target);
    std::unique_ptr<MqttConnection> tool(memory.createConnection());
    QVERIFY(connectTo(*tool));
    BrokerSession session(*tool);
    GatewayUpdateLink link(session, QStringLiteral("G1"), TargetKind(target));
    link.take(R"({"params":[{"packet":"0C0001000180000000C3B2A100D4"}]})");
    QSignalSpy replies(&link, &UpdateLink::replyReceived);
    QSignalSpy timeouts(&link, &UpdateLink::replyTimedOut);
    link.sendBootEntry();
    link.awaitReply(50);
    QVERIFY(timeouts.wait());
    QCOMPARE(replies.count(), 0);
}

// A gateway that floods while nobody waits: what is kept is bounded in bytes, a message too big
// for any answer is not kept at all, and the console shows only the start of one.
void tst_Mqtt::whatNobodyWaitsForIsBounded()
{
    MqttClient tool;
    BrokerSession session(tool);
    GatewayUpdateLink link(session, QStringLiteral("G1"), TargetKind::Gateway);
    const QByteArray large(60 * 1024, 'x');
    for (int i = 0; i < 100; ++i)
        link.take(large);
    QVERIFY(link.queuedBytes() <= GatewayUpdateLink::kMaxQueuedBytes);
    link.forgetReceived();
    link.take(QByteArray(10 * 1024 * 1024, '{'));
    QCOMPARE(link.queuedBytes(), 0);
    QVERIFY(GatewayUpdateLink::consoleText(QByteArray(10 * 1024 * 1024, 'a')).size() < 100);
}

void tst_Mqtt::whatNobodyWaitsForKeepsTheNewest_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<int>("padding");
    QTest::addColumn<int>("firstKept");
    QTest::newRow("by count") << GatewayUpdateLink::kMaxQueuedMessages + 3 << 0 << 3;
    // 17 of these fit in the bytes kept.
    QTest::newRow("by bytes") << 20 << 60 * 1024 << 3;
}

// The oldest messages go first: the first answer read is the oldest one kept.
void tst_Mqtt::whatNobodyWaitsForKeepsTheNewest()
{
    QFETCH(int, messages);
    QFETCH(int, padding);
    MqttClient tool;
    BrokerSession session(tool);
    GatewayUpdateLink link(session, QStringLiteral("G1"), TargetKind::Gateway);
    for (int i = 0; i < messages; ++i)
        link.take(numberedAnswer(i, padding));
    QSignalSpy replies(&link, &UpdateLink::replyReceived);
    link.awaitReply(5000);
    QVERIFY(replies.wait());
    QFETCH(int, firstKept);
    QCOMPARE(replies.at(0).at(0).toByteArray(),
             BootFrame::makeBootFrame(BootCmd::FirmwareContinue, QByteArray::number(firstKept)));
}

// A frame sent again after a time-out may be answered twice; the second answer belongs to it,
// not to the next frame, which waits for it before it goes out.
void tst_Mqtt::lateAnswersStayWithTheirFrames()
{
    MqttClient tool;
    BrokerSession session(tool);
    GatewayUpdateLink link(session, QStringLiteral("G1"), TargetKind::Gateway);
    QSignalSpy replies(&link, &UpdateLink::replyReceived);
    QSignalSpy timeouts(&link, &UpdateLink::replyTimedOut);
    const QByteArray packet = BootFrame::makeBootFrame(BootCmd::FirmwarePacket, "1234");
    // Long enough that a busy machine cannot let the late answer's time pass unseen.
    link.writeFrame(packet);
    link.awaitReply(300);
    QVERIFY(timeouts.wait());
    link.writeFrame(packet);
    link.awaitReply(300);
    link.take(numberedAnswer(1, 0));
    QCOMPARE(replies.count(), 1);
    // Either send may have been answered: no round trip is measured.
    QCOMPARE(link.lastRoundTripMs(), -1.0);
    QCOMPARE(link.owedAnswers(), 1);

    link.writeFrame(BootFrame::makeBootFrame(BootCmd::FirmwareCheck, ""));
    link.awaitReply(5000);
    link.take(numberedAnswer(2, 0));
    link.take(numberedAnswer(3, 0));
    QTRY_COMPARE(replies.count(), 2);
    QCOMPARE(replies.at(1).at(0).toByteArray(), BootFrame::makeBootFrame(BootCmd::FirmwareContinue, "3"));
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

// The largest message said in CONNECT is the broker's to enforce: one client's huge message never
// reaches this process, and what follows it still does.
void tst_Mqtt::oversizedMessagesAreDroppedByTheBroker()
{
    MqttClient receiver;
    MqttClient sender;
    QVERIFY(connectTo(receiver, broker.port()));
    QVERIFY(connectTo(sender, broker.port()));
    QVERIFY(receiver.speaksMqtt5());
    QSignalSpy granted(&receiver, &MqttClient::subscribed);
    QVERIFY(receiver.subscribe(QStringLiteral("big/#")));
    QVERIFY(granted.wait());
    QSignalSpy received(&receiver, &MqttClient::messageReceived);
    QVERIFY(
        sender.publish(QStringLiteral("big/1"), QByteArray(MqttSettings::kDefaultMaximumMessageBytes, 'x')));
    QVERIFY(sender.publish(QStringLiteral("big/2"), QByteArray("after")));
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).toByteArray(), QByteArray("after"));
}

// A broker that knows only 3.1.1 refuses a CONNECT of version 5 with "unacceptable protocol
// version" and hangs up; the client connects again in 3.1.1 without saying so.
void tst_Mqtt::brokerOfMqtt311IsStillSpokenTo()
{
    QTcpServer oldBroker;
    QVERIFY(oldBroker.listen(QHostAddress::LocalHost));
    QList<char> levels;
    connect(&oldBroker, &QTcpServer::newConnection, this, [&] {
        QTcpSocket *socket = oldBroker.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [socket, &levels] {
            const QByteArray connectPacket = socket->readAll();
            constexpr int levelOffset = 8; // fixed header, then "\0\4MQTT", then the level
            if (connectPacket.size() <= levelOffset)
                return;
            const char level = connectPacket.at(levelOffset);
            levels << level;
            socket->write(QByteArray::fromHex(level == 4 ? "20020000" : "20020001"));
            if (level != 4)
                socket->disconnectFromHost();
        });
    });
    MqttClient client;
    QSignalSpy disconnected(&client, &MqttClient::disconnected);
    QVERIFY(connectTo(client, oldBroker.serverPort()));
    QCOMPARE(levels, (QList<char>{5, 4}));
    QVERIFY(!client.speaksMqtt5());
    QCOMPARE(disconnected.count(), 0);
}

QTEST_GUILESS_MAIN(tst_Mqtt)
#include "tst_mqtt.moc"
