#include "app/brokerindicator.h"

namespace {

constexpr int kHeight = 20;

// Shaped like the serial port's light, with the link's name on it.
QString styleFor(MqttClient::ClientState state)
{
    const char *colour = state == MqttClient::Connected    ? "green"
                         : state == MqttClient::Connecting ? "orange"
                                                           : "red";
    return QStringLiteral("background-color:%1;color:white;border-radius:10px;padding:0 6px;")
        .arg(QLatin1String(colour));
}

QString wordsFor(MqttClient::ClientState state)
{
    switch (state) {
    case MqttClient::Connected:
        return BrokerIndicator::tr("MQTT: 已连接 (connected)");
    case MqttClient::Connecting:
        return BrokerIndicator::tr("MQTT: 连接中 (connecting)");
    case MqttClient::Disconnected:
        break;
    }
    return BrokerIndicator::tr("MQTT: 未连接 (down)");
}

} // namespace

BrokerIndicator::BrokerIndicator(QWidget *parent) : QLabel(QStringLiteral("MQTT"), parent)
{
    setObjectName(QStringLiteral("label_mqtt_state"));
    setFixedHeight(kHeight);
    // The serial panel beside it takes the strip's room, as before the light was there.
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAlignment(Qt::AlignCenter);
    showState(MqttClient::Disconnected, QString());
}

void BrokerIndicator::showState(MqttClient::ClientState state, const QString &detail)
{
    this->state = state;
    setStyleSheet(styleFor(state));
    setToolTip(detail.isEmpty() ? wordsFor(state) : wordsFor(state) + QLatin1Char('\n') + detail);
}
