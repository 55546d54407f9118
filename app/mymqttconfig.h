#pragma once

#include "app/gatewaysubscription.h"
#include "mqtt/mqttclient.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPushButton>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSettings;
class QVBoxLayout;
class BrokerSession;

// The MQTT settings window and its broker profiles, the one MQTT client of the tool, the
// gateway subscriptions and the buffer of received messages. It derives from QPushButton
// only to be a window class like the others; its own button face is never shown. The
// widgets are public, like a form's, for the main window and the tests.
class MyMqttConfig : public QPushButton
{
    Q_OBJECT
public:
    // Messages nobody takes out cannot fill the memory: beyond this the older ones go.
    static constexpr int kRecvBufferLimit = 1024 * 1024;

    // Talks to the broker through `connection` (taken over), or through a client of its own.
    explicit MyMqttConfig(MqttConnection *connection = nullptr);
    ~MyMqttConfig() override;

    QWidget *settingsWindow = nullptr;
    QPushButton *pushButton_mqtt_connect = nullptr;
    QPushButton *pushButton_mqtt_cleanLog = nullptr;
    QPushButton *pushButton_mqtt_subscribe = nullptr;
    QPushButton *pushButton_mqtt_clearBuffer = nullptr;
    QLineEdit *lineEdit_mqtt_brokerAddress = nullptr;
    QLineEdit *lineEdit_mqtt_port = nullptr;
    QLineEdit *lineEdit_mqtt_clientId = nullptr;
    QLineEdit *lineEdit_mqtt_userName = nullptr;
    QLineEdit *lineEdit_mqtt_password = nullptr;
    QLineEdit *lineEdit_mqtt_keepAliveInterval = nullptr;
    QLineEdit *lineEdit_mqtt_caFile = nullptr;
    QComboBox *comboBox_mqtt_gatewayId = nullptr;
    QComboBox *comboBox_mqtt_profileName = nullptr;
    QCheckBox *checkBox_mqtt_enableSSLTLS = nullptr;
    QCheckBox *checkBox_mqtt_cleanSession = nullptr;
    QSettings *mqttSettings = nullptr;
    MqttConnection *m_client = nullptr;
    QList<GatewaySubscription> subscriptionTable;
    QByteArray mqttRecvBuffer;
    bool isConnected = false;
    QStringList subscribeTopics;

    // The gateway id that goes into published topics.
    QString currentGatewayId() const;
    // Whether the broker has granted all answer topics of the gateway on the running
    // connection; a gateway update needs them.
    bool isGatewaySubscribed(const QString &gatewayId) const;
    // While held (an update runs), a link that went down is not connected again by itself;
    // released, it is.
    void setReconnectHeld(bool held);
    // The broker session over m_client that the window's and the batch's gateway links share.
    BrokerSession &brokerSession() const { return *session; }
    // Where lines for the user go (the log console).
    void setConsole(std::function<void(const QString &)> console) { this->console = std::move(console); }
    // Five values of the C library's generator and the time in ms, in lower-case hexadecimal.
    static QString generateClientId();

signals:
    // The broker link went connecting, connected or down; `detail` says why it is down.
    void brokerStateChanged(MqttClient::ClientState state, const QString &detail);

private:
    // Writes the settings now; a failed write is said in the console.
    void syncSettings();
    QVBoxLayout *createWindow();
    void createProfileList(QVBoxLayout *column);
    void createConnectButton(QVBoxLayout *column);
    void createFields(QVBoxLayout *column);
    QLineEdit *addField(QVBoxLayout *column, const QString &label, const QString &name, const QString &text);
    void createClientIdRow(QVBoxLayout *column);
    void createCheckBoxes(QVBoxLayout *column);
    QCheckBox *addCheckBox(QVBoxLayout *column, const QString &text, const QString &name, const QString &key);
    void createGatewayList(QVBoxLayout *column);
    void createGatewayButtons(QVBoxLayout *column);
    void createClient(MqttConnection *connection);
    void addLabel(QVBoxLayout *column, const QString &text);
    void watchField(QLineEdit *field, const QString &key);
    void rewriteBrokerAddress(const QString &text);
    QList<QPair<QLineEdit *, QString>> profileTextFields() const;

    void switchProfile(const QString &name);
    void loadProfile(const QString &name);
    void saveProfile(const QString &name);
    void connectClicked();
    void applyConnectionSettings();
    void connectWithFields();
    void reconnectIfConnected();
    void onStateChanged(MqttClient::ClientState state, const QString &detail);
    void subscribeChosenGateway();
    void onGatewayRefused(const QString &gatewayId, const QString &reason);
    void onMessageReceived(const QByteArray &message, const QString &topic);
    void onPingResponse();
    void onGatewayChanged(const QString &gatewayId);
    void subscribeClicked();
    void rememberGateway(const QString &gatewayId);
    bool gatewayUsable(const QString &gatewayId);
    bool subState(const QString &gatewayId) const;
    void setSubState(const QString &gatewayId, bool subscribed);
    QStringList wantedGateways() const;
    void showSubscribeButton();
    void clearClicked();
    void clearEverything();
    void generateClicked();

    std::function<void(const QString &)> console;
    BrokerSession *session = nullptr;
};
