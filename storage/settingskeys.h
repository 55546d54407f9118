#pragma once

#include <QString>

// Every key of the three settings files. Code reads and writes settings only through these names,
// so a key is spelt in exactly one place.
namespace SettingsKeys {

// The JSON work-parameter store (default folder and file of NativeFile).
inline const QString dirListIndex = QStringLiteral("DIR_LIST_INDEX");
inline const QString filePathFirmware = QStringLiteral("file_path_firmware");
inline const QString getFirmwareAccount = QStringLiteral("get_firmware_account");

// "project.conf" in the working directory; the tool only reads it.
inline const QString projectConfFileName = QStringLiteral("project.conf");
inline const QString appTitle = QStringLiteral("APP_TITLE");
inline const QString updateInfor = QStringLiteral("UPDATE_INFOR");

// config.ini: serial panel.
inline const QString serialCom = QStringLiteral("serial_com");
inline const QString serialBaudrate = QStringLiteral("serial_baudrate");

// config.ini: account window.
inline const QString accountName = QStringLiteral("account_name");
inline const QString passwordName = QStringLiteral("password_name");
inline const QString loginFlag = QStringLiteral("login_flag");
inline const QString savePasswordFlag = QStringLiteral("save_password_flag");

// config.ini: the windows' language as the menu chose it, "zh" or "en" (empty: the environment's or
// the system's).
inline const QString windowLanguage = QStringLiteral("window_language");

// config.ini: the update record. The store's URL (postgresql://USER@HOST:PORT/DB; empty: the
// environment's, else the local file) and the station's name (empty: the host name).
inline const QString historyUrl = QStringLiteral("history_url");
inline const QString historyStation = QStringLiteral("history_station");

// config.ini: MQTT window, the fields as they are being edited.
inline const QString mqttBrokerAddress = QStringLiteral("mqtt_brokerAddress");
inline const QString mqttPort = QStringLiteral("mqtt_port");
inline const QString mqttUserName = QStringLiteral("mqtt_userName");
inline const QString mqttPassword = QStringLiteral("mqtt_password");
inline const QString mqttKeepAliveInterval = QStringLiteral("mqtt_keepAliveInterval");
inline const QString mqttCleanSession = QStringLiteral("mqtt_cleanSession");
inline const QString mqttEnableSSLTLS = QStringLiteral("mqtt_enableSSLTLS");
// The CA certificates a private broker's certificate is checked against; empty: the system's.
inline const QString mqttCaFile = QStringLiteral("mqtt_caFile");

// config.ini: MQTT profiles and gateways.
inline const QString mqttProfileName = QStringLiteral("mqtt_profileName");
inline const QString mqttProfileNameList = QStringLiteral("mqtt_profileNameList");
inline const QString mqttGatewayId = QStringLiteral("mqtt_gatewayId");
inline const QString mqttGatewayIdList = QStringLiteral("mqtt_gatewayIdList");

// The per-profile copy of an MQTT key: the profile name as typed, "_", then the key, e.g.
// profileKey("home", mqttPort) is "home_mqtt_port". Used with mqttBrokerAddress, mqttPort,
// mqttUserName, mqttPassword, mqttKeepAliveInterval, mqttEnableSSLTLS, mqttCleanSession, mqttCaFile and
// mqttGatewayId (which then holds the profile's list of gateway ids).
inline QString profileKey(const QString &profileName, const QString &mqttKey)
{
    return profileName + QLatin1Char('_') + mqttKey;
}

} // namespace SettingsKeys
