#pragma once

#include "storage/configini.h"
#include "storage/settingskeys.h"

#include <QSettings>
#include <QStringList>
#include <memory>

// Leaves config.ini with one MQTT profile, "test", on 127.0.0.1:`port` with `gatewayId`
// current, so that a new MQTT window connects there at once. Everything else is removed.
inline void storeMqttProfile(quint16 port, const QString &gatewayId)
{
    const std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
    settings->clear();
    settings->setValue(SettingsKeys::mqttProfileNameList, QStringList{"test"});
    settings->setValue(SettingsKeys::mqttProfileName, "test");
    settings->setValue(SettingsKeys::profileKey("test", SettingsKeys::mqttBrokerAddress), "127.0.0.1");
    settings->setValue(SettingsKeys::profileKey("test", SettingsKeys::mqttPort), QString::number(port));
    settings->setValue(SettingsKeys::mqttGatewayId, gatewayId);
    settings->setValue(SettingsKeys::mqttGatewayIdList, QStringList{gatewayId});
    ConfigIni::sync(settings.get());
}
