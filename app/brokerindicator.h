#pragma once

#include "mqtt/mqttclient.h"

#include <QLabel>

// The broker link's light in the main window's top strip, beside the serial port's:
// green while connected, amber while connecting, red while down; its tool tip says why.
class BrokerIndicator : public QLabel
{
    Q_OBJECT
public:
    explicit BrokerIndicator(QWidget *parent = nullptr);

    void showState(MqttClient::ClientState state, const QString &detail);
    MqttClient::ClientState shownState() const { return state; }

private:
    MqttClient::ClientState state = MqttClient::Disconnected;
};
