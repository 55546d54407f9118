#include "app/mymqttconfig.h"

#include "cloud/passworddigest.h"

#include "core/debugtrace.h"
#include "links/brokersession.h"
#include "protocol/gatewaymessages.h"
#include "storage/configini.h"
#include "storage/settingskeys.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QVBoxLayout>
#include <cstdlib>

namespace {

constexpr int kWindowWidth = 900;
constexpr int kDefaultKeepAlive = 60;

// A stored check state: "0", the empty text and "false" mean unchecked.
bool storedChecked(const QVariant &value)
{
    const QString text = value.toString();
    return !(text.isEmpty() || text == QLatin1String("0") ||
             text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0);
}

QStringList itemTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

QComboBox *uniqueEditableBox(const QString &name)
{
    auto *box = new QComboBox;
    box->setObjectName(name);
    box->setEditable(true);
    box->setDuplicatesEnabled(false);
    return box;
}

} // namespace

// The order of the steps matters: loading values into fields fires the change handlers
// that are already connected.
MyMqttConfig::MyMqttConfig(MqttConnection *connection)
{
    mqttSettings = ConfigIni::open(this);
    subscribeTopics = GatewayMessages::subscribeTopicTemplates();
    QVBoxLayout *column = createWindow();
    createProfileList(column);
    createConnectButton(column);
    createFields(column);
    createCheckBoxes(column);
    createGatewayList(column);
    createGatewayButtons(column);
    loadProfile(comboBox_mqtt_profileName->currentText());
    pushButton_mqtt_connect->setEnabled(!comboBox_mqtt_profileName->currentText().isEmpty());
    // Runs after the profile switch, which was connected first.
    connect(comboBox_mqtt_profileName, &QComboBox::currentTextChanged, this,
            &MyMqttConfig::reconnectIfConnected);
    createClient(connection);
}

MyMqttConfig::~MyMqttConfig()
{
    delete settingsWindow;
}

QString MyMqttConfig::currentGatewayId() const
{
    return comboBox_mqtt_gatewayId->currentText();
}

bool MyMqttConfig::isGatewaySubscribed(const QString &gatewayId) const
{
    return subState(gatewayId) && session->isGatewaySubscribed(gatewayId);
}

void MyMqttConfig::setReconnectHeld(bool held)
{
    session->setReconnectHeld(held);
}

QString MyMqttConfig::generateClientId()
{
    QString id;
    for (int i = 0; i < 5; ++i)
        // The C library's generator may go far beyond 32767; the id keeps to its 16 to 31 characters.
        id += QString::number(std::rand() % 32768, 16);
    return id + QString::number(QDateTime::currentMSecsSinceEpoch(), 16);
}

QVBoxLayout *MyMqttConfig::createWindow()
{
    settingsWindow = new QWidget(nullptr, Qt::WindowFlags());
    settingsWindow->setWindowTitle(QStringLiteral("mqtt"));
    settingsWindow->setFixedWidth(kWindowWidth);
    settingsWindow->setWindowFlags(settingsWindow->windowFlags() | Qt::WindowStaysOnTopHint);
    auto *row = new QHBoxLayout(settingsWindow);
    auto *column = new QVBoxLayout;
    row->addLayout(column);
    return column;
}

void MyMqttConfig::addLabel(QVBoxLayout *column, const QString &text)
{
    auto *label = new QLabel(text);
    label->setFont(QFont(QStringLiteral("黑体"), 13, 10));
    column->addWidget(label);
}

void MyMqttConfig::createProfileList(QVBoxLayout *column)
{
    addLabel(column, tr("名称"));
    comboBox_mqtt_profileName = uniqueEditableBox(QStringLiteral("comboBox_mqtt_profileName"));
    comboBox_mqtt_profileName->setEditText(QStringLiteral("mqtt profile name"));
    const QVariant names = mqttSettings->value(SettingsKeys::mqttProfileNameList);
    if (names.isValid()) {
        comboBox_mqtt_profileName->addItems(names.toStringList());
        const QVariant active = mqttSettings->value(SettingsKeys::mqttProfileName);
        if (active.isValid())
            comboBox_mqtt_profileName->setCurrentText(active.toString());
    }
    connect(comboBox_mqtt_profileName, &QComboBox::currentTextChanged, this, &MyMqttConfig::switchProfile);
    column->addWidget(comboBox_mqtt_profileName);
}

void MyMqttConfig::createConnectButton(QVBoxLayout *column)
{
    pushButton_mqtt_connect = new QPushButton(QStringLiteral("Connect"));
    pushButton_mqtt_connect->setObjectName(QStringLiteral("pushButton_mqtt_connect"));
    connect(pushButton_mqtt_connect, &QPushButton::clicked, this, &MyMqttConfig::connectClicked);
    column->addWidget(pushButton_mqtt_connect);
}

QLineEdit *MyMqttConfig::addField(QVBoxLayout *column, const QString &label, const QString &name,
                                  const QString &text)
{
    addLabel(column, label);
    auto *field = new QLineEdit(text);
    field->setObjectName(name);
    column->addWidget(field);
    return field;
}

void MyMqttConfig::watchField(QLineEdit *field, const QString &key)
{
    connect(field, &QLineEdit::textChanged, this, [this, field, key](const QString &text) {
        const bool secret = field == lineEdit_mqtt_password;
        TRACE(lcMqtt) << field->objectName() + QLatin1Char(' ')
                      << (secret ? PasswordDigest::masked(text) : text);
        mqttSettings->setValue(key, text);
    });
}

void MyMqttConfig::createFields(QVBoxLayout *column)
{
    lineEdit_mqtt_brokerAddress = addField(
        column, tr("服务器地址"), QStringLiteral("lineEdit_mqtt_brokerAddress"), QStringLiteral("127.0.0.1"));
    lineEdit_mqtt_brokerAddress->setPlaceholderText(QStringLiteral("000.000.000.000/url"));
    watchField(lineEdit_mqtt_brokerAddress, SettingsKeys::mqttBrokerAddress);
    connect(lineEdit_mqtt_brokerAddress, &QLineEdit::textChanged, this, &MyMqttConfig::rewriteBrokerAddress);
    lineEdit_mqtt_port =
        addField(column, tr("服务器端口号"), QStringLiteral("lineEdit_mqtt_port"), QStringLiteral("1883"));
    watchField(lineEdit_mqtt_port, SettingsKeys::mqttPort);
    createClientIdRow(column);
    lineEdit_mqtt_userName =
        addField(column, tr("用户名"), QStringLiteral("lineEdit_mqtt_userName"), QString());
    watchField(lineEdit_mqtt_userName, SettingsKeys::mqttUserName);
    lineEdit_mqtt_password =
        addField(column, tr("密码"), QStringLiteral("lineEdit_mqtt_password"), QString());
    watchField(lineEdit_mqtt_password, SettingsKeys::mqttPassword);
    lineEdit_mqtt_keepAliveInterval = addField(
        column, tr("保活时间"), QStringLiteral("lineEdit_mqtt_keepAliveInterval"), QStringLiteral("60"));
    watchField(lineEdit_mqtt_keepAliveInterval, SettingsKeys::mqttKeepAliveInterval);
}

// Typed or pasted commas become points: "192,168,1,10" and "10, 0, 0, 7" are addresses.
void MyMqttConfig::rewriteBrokerAddress(const QString &text)
{
    QString address = text;
    address.replace(QStringLiteral(", "), QStringLiteral("."));
    address.replace(QLatin1Char(','), QLatin1Char('.'));
    if (address != text)
        lineEdit_mqtt_brokerAddress->setText(address);
}

void MyMqttConfig::createClientIdRow(QVBoxLayout *column)
{
    addLabel(column, tr("设备Client ID"));
    auto *row = new QHBoxLayout;
    lineEdit_mqtt_clientId = new QLineEdit(generateClientId());
    lineEdit_mqtt_clientId->setObjectName(QStringLiteral("lineEdit_mqtt_clientId"));
    auto *generate = new QPushButton(QStringLiteral("Generate"));
    generate->setObjectName(QStringLiteral("pushButton_mqtt_generate"));
    connect(generate, &QPushButton::clicked, this, &MyMqttConfig::generateClicked);
    row->addWidget(lineEdit_mqtt_clientId);
    row->addWidget(generate);
    column->addLayout(row);
}

QCheckBox *MyMqttConfig::addCheckBox(QVBoxLayout *column, const QString &text, const QString &name,
                                     const QString &key)
{
    auto *box = new QCheckBox(text);
    box->setObjectName(name);
    connect(box, &QCheckBox::stateChanged, this, [this, box, key](int state) {
        TRACE(lcMqtt) << box->objectName() + QLatin1Char(' ') << state;
        mqttSettings->setValue(key, state);
    });
    column->addWidget(box);
    return box;
}

void MyMqttConfig::createCheckBoxes(QVBoxLayout *column)
{
    checkBox_mqtt_cleanSession =
        addCheckBox(column, QStringLiteral("Clean session"), QStringLiteral("checkBox_mqtt_cleanSession"),
                    SettingsKeys::mqttCleanSession);
    checkBox_mqtt_enableSSLTLS = addCheckBox(
        column, tr("启用TLS"), QStringLiteral("checkBox_mqtt_enableSSLTLS"), SettingsKeys::mqttEnableSSLTLS);
    lineEdit_mqtt_caFile =
        addField(column, tr("CA证书文件"), QStringLiteral("lineEdit_mqtt_caFile"), QString());
    lineEdit_mqtt_caFile->setPlaceholderText(tr("空: 系统证书 (empty: the system's certificates)"));
    watchField(lineEdit_mqtt_caFile, SettingsKeys::mqttCaFile);
    pushButton_mqtt_cleanLog = new QPushButton(tr("清空日志"));
    pushButton_mqtt_cleanLog->setObjectName(QStringLiteral("pushButton_mqtt_cleanLog"));
    connect(pushButton_mqtt_cleanLog, &QPushButton::clicked, this,
            [] { TRACE(lcMqtt) << "pushButton_mqtt_cleanLog "; });
    column->addWidget(pushButton_mqtt_cleanLog);
}

void MyMqttConfig::createGatewayList(QVBoxLayout *column)
{
    addLabel(column, tr("网关设备ID"));
    comboBox_mqtt_gatewayId = uniqueEditableBox(QStringLiteral("comboBox_mqtt_gatewayId"));
    const QVariant ids = mqttSettings->value(SettingsKeys::mqttGatewayIdList);
    if (ids.isValid()) {
        for (const QString &id : ids.toStringList()) {
            comboBox_mqtt_gatewayId->addItem(id);
            subscriptionTable.append(GatewaySubscription{id, false});
        }
    }
    comboBox_mqtt_gatewayId->setCurrentText(mqttSettings->value(SettingsKeys::mqttGatewayId).toString());
    connect(comboBox_mqtt_gatewayId, &QComboBox::currentTextChanged, this, &MyMqttConfig::onGatewayChanged);
}

void MyMqttConfig::createGatewayButtons(QVBoxLayout *column)
{
    pushButton_mqtt_subscribe = new QPushButton(tr("订阅"));
    pushButton_mqtt_subscribe->setObjectName(QStringLiteral("pushButton_mqtt_subscribe"));
    pushButton_mqtt_subscribe->setMaximumWidth(150);
    connect(pushButton_mqtt_subscribe, &QPushButton::clicked, this, &MyMqttConfig::subscribeClicked);
    pushButton_mqtt_clearBuffer = new QPushButton(tr("清空"));
    pushButton_mqtt_clearBuffer->setObjectName(QStringLiteral("pushButton_mqtt_clearBuffer"));
    pushButton_mqtt_clearBuffer->setMaximumWidth(70);
    connect(pushButton_mqtt_clearBuffer, &QPushButton::clicked, this, &MyMqttConfig::clearClicked);
    auto *row = new QHBoxLayout;
    row->addWidget(comboBox_mqtt_gatewayId);
    row->addWidget(pushButton_mqtt_subscribe);
    row->addWidget(pushButton_mqtt_clearBuffer);
    column->addLayout(row);
    column->addStretch();
}

void MyMqttConfig::createClient(MqttConnection *connection)
{
    m_client = connection ? connection : new MqttClient;
    m_client->setParent(this);
    session = new BrokerSession(*m_client, this);
    connect(session, &BrokerSession::stateChanged, this, &MyMqttConfig::onStateChanged);
    connect(session, &BrokerSession::gatewayRefused, this, &MyMqttConfig::onGatewayRefused);
    connect(session, &BrokerSession::messageArrived, this, &MyMqttConfig::onMessageReceived);
    connect(session, &BrokerSession::notice, this, [this](const QString &line) {
        if (console)
            console(line);
    });
    connect(m_client, &MqttConnection::pingResponseReceived, this, &MyMqttConfig::onPingResponse);
    connectWithFields();
}

// In the order the fields are saved.
QList<QPair<QLineEdit *, QString>> MyMqttConfig::profileTextFields() const
{
    return {{lineEdit_mqtt_brokerAddress, SettingsKeys::mqttBrokerAddress},
            {lineEdit_mqtt_port, SettingsKeys::mqttPort},
            {lineEdit_mqtt_password, SettingsKeys::mqttPassword},
            {lineEdit_mqtt_userName, SettingsKeys::mqttUserName},
            {lineEdit_mqtt_keepAliveInterval, SettingsKeys::mqttKeepAliveInterval},
            {lineEdit_mqtt_caFile, SettingsKeys::mqttCaFile}};
}

void MyMqttConfig::switchProfile(const QString &name)
{
    TRACE(lcMqtt) << "comboBox_mqtt_profileName currentTextChanged" << name;
    pushButton_mqtt_connect->setEnabled(!name.isEmpty());
    // A name being typed is no profile yet.
    if (comboBox_mqtt_profileName->findText(name) < 0)
        return;
    loadProfile(name);
}

void MyMqttConfig::loadProfile(const QString &name)
{
    for (const auto &field : profileTextFields()) {
        const QVariant value = mqttSettings->value(SettingsKeys::profileKey(name, field.second));
        if (value.isValid())
            field.first->setText(value.toString());
    }
    const QList<QPair<QCheckBox *, QString>> boxes = {
        {checkBox_mqtt_enableSSLTLS, SettingsKeys::mqttEnableSSLTLS},
        {checkBox_mqtt_cleanSession, SettingsKeys::mqttCleanSession}};
    for (const auto &box : boxes) {
        const QVariant value = mqttSettings->value(SettingsKeys::profileKey(name, box.second));
        if (value.isValid())
            box.first->setChecked(storedChecked(value));
    }
    const QVariant ids = mqttSettings->value(SettingsKeys::profileKey(name, SettingsKeys::mqttGatewayId));
    if (ids.isValid())
        comboBox_mqtt_gatewayId->addItems(ids.toStringList());
}

void MyMqttConfig::saveProfile(const QString &name)
{
    for (const auto &field : profileTextFields())
        mqttSettings->setValue(SettingsKeys::profileKey(name, field.second), field.first->text());
    mqttSettings->setValue(SettingsKeys::profileKey(name, SettingsKeys::mqttEnableSSLTLS),
                           int(checkBox_mqtt_enableSSLTLS->checkState()));
    mqttSettings->setValue(SettingsKeys::profileKey(name, SettingsKeys::mqttCleanSession),
                           int(checkBox_mqtt_cleanSession->checkState()));
    mqttSettings->setValue(SettingsKeys::profileKey(name, SettingsKeys::mqttGatewayId),
                           itemTexts(comboBox_mqtt_gatewayId));
    if (comboBox_mqtt_profileName->findText(name) < 0)
        comboBox_mqtt_profileName->addItem(name);
    mqttSettings->setValue(SettingsKeys::mqttProfileName, name);
    mqttSettings->setValue(SettingsKeys::mqttProfileNameList, itemTexts(comboBox_mqtt_profileName));
    syncSettings();
}

void MyMqttConfig::connectClicked()
{
    TRACE(lcMqtt) << "pushButton_mqtt_connect clicked";
    saveProfile(comboBox_mqtt_profileName->currentText());
    // While connected the button disconnects.
    if (isConnected) {
        session->disconnectFromHost();
        return;
    }
    connectWithFields();
}

void MyMqttConfig::connectWithFields()
{
    applyConnectionSettings();
    session->connectToHost();
}

void MyMqttConfig::applyConnectionSettings()
{
    m_client->setHostname(lineEdit_mqtt_brokerAddress->text());
    // Cut to 16 bits; text that is not a number gives 0.
    m_client->setPort(quint16(lineEdit_mqtt_port->text().toUInt()));
    m_client->setClientId(lineEdit_mqtt_clientId->text());
    m_client->setUsername(lineEdit_mqtt_userName->text());
    m_client->setPassword(lineEdit_mqtt_password->text());
    bool keepAliveOk = false;
    const int keepAlive = lineEdit_mqtt_keepAliveInterval->text().toInt(&keepAliveOk);
    m_client->setKeepAlive(keepAliveOk ? keepAlive : kDefaultKeepAlive);
    m_client->setCleanSession(checkBox_mqtt_cleanSession->isChecked());
    m_client->setTls(checkBox_mqtt_enableSSLTLS->isChecked(), lineEdit_mqtt_caFile->text().trimmed());
}

void MyMqttConfig::reconnectIfConnected()
{
    TRACE(lcMqtt) << "comboBox_mqtt_profileName currentTextChanged";
    if (m_client->state() == MqttClient::Connected)
        connectWithFields();
}

void MyMqttConfig::onStateChanged(MqttClient::ClientState state, const QString &detail)
{
    TRACE(lcMqtt) << "broker link" << int(state) << detail;
    isConnected = state == MqttClient::Connected;
    pushButton_mqtt_connect->setText(isConnected ? QStringLiteral("Disconnect") : QStringLiteral("Connect"));
    emit brokerStateChanged(state, detail);
    if (isConnected)
        subscribeChosenGateway();
}

// The gateway chosen in the list is subscribed with every connection; no gateway chosen yet is
// nothing to complain about every time.
void MyMqttConfig::subscribeChosenGateway()
{
    const QString gateway = currentGatewayId();
    TRACE(lcMqtt) << "subState=" << (subState(gateway) ? "true" : "false");
    if (!gateway.isEmpty() && gatewayUsable(gateway))
        setSubState(gateway, true);
}

void MyMqttConfig::onGatewayRefused(const QString &gatewayId, const QString &reason)
{
    if (!subState(gatewayId))
        return;
    if (console)
        console(QStringLiteral("%1: gateway %2 not subscribed").arg(reason, gatewayId));
    setSubState(gatewayId, false);
}

void MyMqttConfig::onMessageReceived(const QByteArray &message, const QString &topic)
{
    TRACE(lcMqtt) << "m_client->topic=" << topic;
    TRACE(lcMqtt) << "m_client->messageReceived=" << message;
    if (mqttRecvBuffer.size() + message.size() > kRecvBufferLimit)
        mqttRecvBuffer.clear();
    mqttRecvBuffer.append(message);
}

void MyMqttConfig::onPingResponse()
{
    const QString text = QDateTime::currentDateTime().toString() + QStringLiteral(" PingResponse\n");
    TRACE(lcMqtt) << "m_client->pingResponseReceived=" << text;
}

void MyMqttConfig::onGatewayChanged(const QString &gatewayId)
{
    TRACE(lcMqtt) << "comboBox_mqtt_gatewayId currentTextChanged" << gatewayId;
    showSubscribeButton();
}

void MyMqttConfig::subscribeClicked()
{
    TRACE(lcMqtt) << "pushButton_mqtt_subscribe ";
    const QString gateway = currentGatewayId();
    if (!gateway.isEmpty())
        rememberGateway(gateway);
    const bool subscribed = subState(gateway);
    TRACE(lcMqtt) << "subState=" << (subscribed ? "true" : "false");
    if (!gatewayUsable(gateway))
        return;
    // Without a connection the button subscribes nothing; the next connection takes the chosen
    // gateway by itself.
    if (!subscribed && !isConnected)
        return;
    setSubState(gateway, !subscribed);
}

void MyMqttConfig::rememberGateway(const QString &gatewayId)
{
    QStringList ids = itemTexts(comboBox_mqtt_gatewayId);
    if (!ids.contains(gatewayId)) {
        ids << gatewayId;
        comboBox_mqtt_gatewayId->addItem(gatewayId);
        subscriptionTable.append(GatewaySubscription{gatewayId, false});
    }
    mqttSettings->setValue(SettingsKeys::mqttGatewayId, gatewayId);
    mqttSettings->setValue(SettingsKeys::mqttGatewayIdList, ids);
    syncSettings();
}

// An id with a wildcard would subscribe other gateways' topics, or none at all; an empty
// one topics of no gateway.
bool MyMqttConfig::gatewayUsable(const QString &gatewayId)
{
    const QString problem = gatewayId.isEmpty() ? QStringLiteral("no gateway id given")
                                                : GatewayMessages::gatewayIdProblem(gatewayId);
    if (problem.isEmpty())
        return true;
    if (console)
        console(problem + QStringLiteral(": not subscribed"));
    setSubState(gatewayId, false);
    return false;
}

bool MyMqttConfig::subState(const QString &gatewayId) const
{
    for (const GatewaySubscription &entry : subscriptionTable) {
        if (entry.gatewayId == gatewayId)
            return entry.subState;
    }
    return false;
}

// An id that came with a profile's list has no entry yet: it gets one, or its state
// would be forgotten and "取消订阅" would subscribe again.
void MyMqttConfig::setSubState(const QString &gatewayId, bool subscribed)
{
    bool found = false;
    for (GatewaySubscription &entry : subscriptionTable) {
        if (entry.gatewayId != gatewayId)
            continue;
        found = true;
        entry.subState = subscribed;
    }
    if (!found && subscribed && !gatewayId.isEmpty())
        subscriptionTable.append(GatewaySubscription{gatewayId, true});
    // The session keeps what the window wants subscribed on every connection.
    if (subscribed)
        session->wantGateway(gatewayId, this);
    else
        session->releaseGateway(gatewayId, this);
    showSubscribeButton();
}

QStringList MyMqttConfig::wantedGateways() const
{
    QStringList wanted;
    for (const GatewaySubscription &entry : subscriptionTable) {
        if (entry.subState && !wanted.contains(entry.gatewayId))
            wanted << entry.gatewayId;
    }
    return wanted;
}

void MyMqttConfig::showSubscribeButton()
{
    pushButton_mqtt_subscribe->setText(subState(currentGatewayId()) ? tr("取消订阅") : tr("订阅"));
}

void MyMqttConfig::syncSettings()
{
    QString why;
    if (!ConfigIni::sync(mqttSettings, &why) && console)
        console(why);
}

// Every key of config.ini goes, the serial port's and the account's too: asked first,
// without waiting in place for the answer.
void MyMqttConfig::clearClicked()
{
    TRACE(lcMqtt) << "pushButton_mqtt_clearBuffer ";
    auto *question = new QMessageBox(
        QMessageBox::Question, tr("提示"),
        tr("清空全部设置? config.ini 中的所有设置 (MQTT配置、网关列表、串口和账号) 都将被删除。"),
        QMessageBox::Yes | QMessageBox::No, settingsWindow);
    question->setObjectName(QStringLiteral("messageBox_mqtt_clear"));
    question->setDefaultButton(QMessageBox::No);
    question->setAttribute(Qt::WA_DeleteOnClose);
    connect(question, &QMessageBox::finished, this, [this, question] {
        if (question->clickedButton() == question->button(QMessageBox::Yes))
            clearEverything();
    });
    question->open();
}

// The gateways the window forgets are not left subscribed behind its back.
void MyMqttConfig::clearEverything()
{
    TRACE(lcMqtt) << "clear config.ini";
    mqttSettings->clear();
    syncSettings();
    for (const QString &id : wantedGateways())
        setSubState(id, false);
    subscriptionTable.clear();
    comboBox_mqtt_gatewayId->clear();
}

void MyMqttConfig::generateClicked()
{
    TRACE(lcMqtt) << "pushbutton_mqtt_generate ";
    lineEdit_mqtt_clientId->setText(generateClientId());
    TRACE(lcMqtt) << "randId" << lineEdit_mqtt_clientId->text();
}
