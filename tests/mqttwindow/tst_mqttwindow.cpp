// The MQTT settings window against the in-memory broker: the first connection and its six
// subscriptions, subscribing and unsubscribing as the broker grants, refused credentials,
// profiles kept in config.ini and cleared, and the broker address field; and the whole window
// against a real mosquitto that restarts and stops.
#include "app/brokerindicator.h"
#include "app/mainwindow.h"
#include "app/mymqttconfig.h"
#include "links/reconnectbackoff.h"
#include "mqtt/memorybroker.h"
#include "mqtt/memorybrokerconnection.h"
#include "mqtt/mqttclient.h"
#include "storage/configini.h"
#include "tests/support/brokerprocess.h"
#include "tests/support/mqttprofile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QtTest>

namespace {

QVariant storedValue(const QString &key)
{
    const std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
    return settings->value(key);
}

// Clicks "订阅", then waits for the SUBACK of a marker subscription: the broker answers
// in order, so every subscription the click asked for has been answered by then.
void clickSubscribeAndSettle(MyMqttConfig &config)
{
    QSignalSpy subscribed(config.m_client, &MqttConnection::subscribed);
    QTest::mouseClick(config.pushButton_mqtt_subscribe, Qt::LeftButton);
    QVERIFY(config.m_client->subscribe(QStringLiteral("marker")));
    QTRY_VERIFY(!subscribed.isEmpty() && subscribed.last().at(0).toString() == QLatin1String("marker"));
}

} // namespace

class tst_MqttWindow : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        broker = std::make_unique<MemoryBroker>();
        storeMqttProfile(BrokerProcess::unusedPort(), QString());
    }

    void firstConnectionSubscribesTheGatewayThenSubscribeToggles();
    void subscribeWhileNotConnectedStillRemembersTheGateway();
    void subscriptionsFollowTheBroker();
    void linkComesBackByItselfUnlessHeldOrDisconnected();
    void refusedCredentialsAreSaidAndNotRetried();
    void receiveBufferKeepsTheNewest();
    void clearAsksFirst();
    void profilesAreSavedAndRestored();
    void commasInTheBrokerAddressBecomePoints_data();
    void commasInTheBrokerAddressBecomePoints();

private:
    MqttConnection *connection() { return broker->createConnection(); }

    std::unique_ptr<MemoryBroker> broker;
};

void tst_MqttWindow::firstConnectionSubscribesTheGatewayThenSubscribeToggles()
{
    storeMqttProfile(BrokerProcess::unusedPort(), QStringLiteral("ABC"));
    MyMqttConfig config(connection());
    QSignalSpy subscribed(config.m_client, &MqttConnection::subscribed);
    QTRY_COMPARE(subscribed.count(), 6);
    QStringList topics;
    for (const QList<QVariant> &arguments : subscribed)
        topics << arguments.at(0).toString();
    QCOMPARE(topics, (QStringList{"thing/ABC/sv/login", "thing/ABC/sv/ping", "thing/ABC/sv/ack",
                                  "thing/ABC/sv/property/push", "thing/ABC/sv/firmware/push",
                                  "thing/ABC/sv/config/push"}));
    QCOMPARE(config.pushButton_mqtt_connect->text(), QStringLiteral("Disconnect"));
    QCOMPARE(config.pushButton_mqtt_subscribe->text(), QStringLiteral("取消订阅"));

    // The client's own messages pass the broker in order, so the marker comes after any
    // message the gateway's topics still let through.
    MqttConnection *client = config.m_client;
    QVERIFY(client->subscribe(QStringLiteral("marker")));
    client->publish(QStringLiteral("thing/ABC/sv/ack"), "a;");
    client->publish(QStringLiteral("marker"), "m;");
    QTRY_COMPARE(config.mqttRecvBuffer, QByteArray("a;m;"));
    QTest::mouseClick(config.pushButton_mqtt_subscribe, Qt::LeftButton);
    QCOMPARE(config.pushButton_mqtt_subscribe->text(), QStringLiteral("订阅"));
    client->publish(QStringLiteral("thing/ABC/sv/ack"), "b;");
    client->publish(QStringLiteral("marker"), "m;");
    QTRY_COMPARE(config.mqttRecvBuffer, QByteArray("a;m;m;"));
    QTest::mouseClick(config.pushButton_mqtt_subscribe, Qt::LeftButton);
    QCOMPARE(config.pushButton_mqtt_subscribe->text(), QStringLiteral("取消订阅"));
    QTRY_COMPARE(subscribed.count(), 6 + 1 + 6); // the marker too
}

void tst_MqttWindow::subscribeWhileNotConnectedStillRemembersTheGateway()
{
    broker->setRunning(false);
    MyMqttConfig config(connection());
    QTRY_COMPARE(config.m_client->state(), MqttClient::Disconnected);
    config.comboBox_mqtt_gatewayId->setEditText(QStringLiteral("GW7"));
    QTest::mouseClick(config.pushButton_mqtt_subscribe, Qt::LeftButton);
    QCOMPARE(config.pushButton_mqtt_subscribe->text(), QStringLiteral("订阅"));
    QCOMPARE(storedValue(SettingsKeys::mqttGatewayId).toString(), QStringLiteral("GW7"));
    QVERIFY(storedValue(SettingsKeys::mqttGatewayIdList).toStringList().contains(QStringLiteral("GW7")));
}

// The button shows what the broker granted: not a refused topic, nor an empty id; and an id
// that came with a profile's list, not with the window's own, unsubscribes.
void tst_MqttWindow::subscriptionsFollowTheBroker()
{
    broker->refuseSubscriptions(QStringLiteral("thing/DENIED/#"));
    std::unique_ptr<QSettings>(ConfigIni::open(nullptr))
        ->setValue(SettingsKeys::profileKey("test", SettingsKeys::mqttGatewayId), QStringList{"P1"});
    MyMqttConfig config(connection());
    QTRY_VERIFY(config.isConnected);
    for (const QString id : {"DENIED", ""}) {
        config.comboBox_mqtt_gatewayId->setEditText(id);
        clickSubscribeAndSettle(config);
        QCOMPARE(config.pushButton_mqtt_subscribe->text(), QStringLiteral("订阅"));
        QVERIFY(!config.isGatewaySubscribed(id));
    }
    config.comboBox_mqtt_gatewayId->setCurrentText(QStringLiteral("P1"));
    clickSubscribeAndSettle(config);
    QVERIFY(config.isGatewaySubscribed(QStringLiteral("P1")));
    QTest::mouseClick(config.pushButton_mqtt_subscribe, Qt::LeftButton);
    QCOMPARE(config.pushButton_mqtt_subscribe->text(), QStringLiteral("订阅"));
}

// The light in the main window follows the link, and a new connection subscribes anew.
void tst_MqttWindow::linkComesBackByItselfUnlessHeldOrDisconnected()
{
    BrokerProcess own;
    QVERIFY(own.start());
    storeMqttProfile(own.port(), QStringLiteral("GW1"));
    MainWindow window;
    window.mainTimeout_stop(); // no start page
    MyMqttConfig &config = *window.mqttWindow();
    const auto *backoff = config.findChild<ReconnectBackoff *>();
    const auto *light = window.findChild<BrokerIndicator *>();
    QTRY_COMPARE(light->shownState(), MqttClient::Connected);

    // An update holds the link where the broker left it.
    config.setReconnectHeld(true);
    QVERIFY(own.restart());
    QTRY_COMPARE(light->shownState(), MqttClient::Disconnected);
    QVERIFY2(light->toolTip().contains(QStringLiteral("MQTT link lost")), qPrintable(light->toolTip()));
    QVERIFY(!backoff->isPending());
    config.setReconnectHeld(false);
    QTRY_COMPARE_WITH_TIMEOUT(light->shownState(), MqttClient::Connected, 10000);
    QTRY_VERIFY(config.isGatewaySubscribed(QStringLiteral("GW1")));

    // Each failed attempt waits longer.
    own.stop();
    QTRY_VERIFY_WITH_TIMEOUT(backoff->delayMs() >= 4 * ReconnectBackoff::kFirstDelayMs, 10000);
    QVERIFY(light->toolTip().contains(QStringLiteral("MQTT link refused")));
    QVERIFY(own.restart());
    QTRY_VERIFY_WITH_TIMEOUT(config.isConnected, 20000);

    QTest::mouseClick(config.pushButton_mqtt_connect, Qt::LeftButton);
    QVERIFY(!config.isConnected && !backoff->isPending());
}

void tst_MqttWindow::refusedCredentialsAreSaidAndNotRetried()
{
    broker->setCredentials(QStringLiteral("someone"), QStringLiteral("secret"));
    MyMqttConfig config(connection());
    QStringList console;
    config.setConsole([&console](const QString &line) { console << line; });
    QTRY_COMPARE(console.size(), 1);
    QVERIFY2(console.first().startsWith(QStringLiteral("MQTT link not authorised")),
             qPrintable(console.first()));
    QVERIFY(!config.findChild<ReconnectBackoff *>()->isPending());
}

// Messages nobody takes out: the buffer stays bounded, and what it keeps is the newest.
void tst_MqttWindow::receiveBufferKeepsTheNewest()
{
    MyMqttConfig config(connection());
    const int size = MyMqttConfig::kRecvBufferLimit / 3;
    for (const char fill : {'a', 'b', 'c', 'd', 'e'})
        emit config.m_client->messageReceived(QByteArray(size, fill), QStringLiteral("thing/G1/sv/ack"));
    QVERIFY(config.mqttRecvBuffer.size() <= MyMqttConfig::kRecvBufferLimit);
    QVERIFY(config.mqttRecvBuffer.endsWith(QByteArray(size, 'e')));
}

void tst_MqttWindow::clearAsksFirst()
{
    storeMqttProfile(BrokerProcess::unusedPort(), QStringLiteral("GW1"));
    MyMqttConfig config;
    for (const QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        QTest::mouseClick(config.pushButton_mqtt_clearBuffer, Qt::LeftButton);
        QVERIFY(storedValue(SettingsKeys::mqttGatewayId).isValid());
        auto *question = config.settingsWindow->findChild<QMessageBox *>();
        QTest::mouseClick(question->button(answer), Qt::LeftButton);
        QTRY_VERIFY(!config.settingsWindow->findChild<QMessageBox *>());
    }
    QVERIFY(!storedValue(SettingsKeys::mqttProfileName).isValid());
    QCOMPARE(config.comboBox_mqtt_gatewayId->count(), 0);
}

void tst_MqttWindow::profilesAreSavedAndRestored()
{
    const QString unused = QString::number(BrokerProcess::unusedPort());
    {
        MyMqttConfig config;
        config.comboBox_mqtt_profileName->setEditText(QStringLiteral("lab"));
        config.lineEdit_mqtt_brokerAddress->setText(QStringLiteral("127.0.0.2"));
        config.lineEdit_mqtt_port->setText(unused);
        config.lineEdit_mqtt_userName->setText(QStringLiteral("user"));
        config.lineEdit_mqtt_keepAliveInterval->setText(QStringLiteral("30"));
        config.checkBox_mqtt_enableSSLTLS->setChecked(true);
        config.comboBox_mqtt_gatewayId->addItems({"G1", "G2"});
        QTest::mouseClick(config.pushButton_mqtt_connect, Qt::LeftButton);
        config.comboBox_mqtt_profileName->setEditText(QStringLiteral("home"));
        config.lineEdit_mqtt_brokerAddress->setText(QStringLiteral("127.0.0.3"));
        config.checkBox_mqtt_enableSSLTLS->setChecked(false);
        QTest::mouseClick(config.pushButton_mqtt_connect, Qt::LeftButton);
    }
    MyMqttConfig restored;
    QCOMPARE(restored.comboBox_mqtt_profileName->currentText(), QStringLiteral("home"));
    QCOMPARE(restored.lineEdit_mqtt_brokerAddress->text(), QStringLiteral("127.0.0.3"));
    QVERIFY(!restored.checkBox_mqtt_enableSSLTLS->isChecked());

    restored.comboBox_mqtt_profileName->setCurrentText(QStringLiteral("lab"));
    QCOMPARE(restored.lineEdit_mqtt_brokerAddress->text(), QStringLiteral("127.0.0.2"));
    QCOMPARE(restored.lineEdit_mqtt_userName->text(), QStringLiteral("user"));
    QVERIFY(restored.checkBox_mqtt_enableSSLTLS->isChecked());
    QVERIFY(restored.comboBox_mqtt_gatewayId->findText(QStringLiteral("G2")) >= 0);
    // The stored switches reach the connection.
    QTest::mouseClick(restored.pushButton_mqtt_connect, Qt::LeftButton);
    QVERIFY(restored.m_client->tlsEnabled());
    QCOMPARE(restored.m_client->keepAlive(), 30);
    QCOMPARE(restored.m_client->port(), quint16(unused.toUInt()));
}

void tst_MqttWindow::commasInTheBrokerAddressBecomePoints_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<bool>("typed");
    QTest::addColumn<QString>("address");

    QTest::newRow("pasted with blanks") << "10, 0, 0, 7" << false << "10.0.0.7";
    QTest::newRow("typed key by key") << "192,168,1,10" << true << "192.168.1.10";
}

void tst_MqttWindow::commasInTheBrokerAddressBecomePoints()
{
    QFETCH(QString, input);
    QFETCH(bool, typed);
    MyMqttConfig config;
    config.lineEdit_mqtt_brokerAddress->clear();
    if (typed)
        QTest::keyClicks(config.lineEdit_mqtt_brokerAddress, input);
    else
        config.lineEdit_mqtt_brokerAddress->insert(input);
    QTEST(config.lineEdit_mqtt_brokerAddress->text(), "address");
    QTEST(storedValue(SettingsKeys::mqttBrokerAddress).toString(), "address");
}

QTEST_MAIN(tst_MqttWindow)
#include "tst_mqttwindow.moc"
