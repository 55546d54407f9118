#pragma once

#include <QString>
#include <QtGlobal>

// How to reach a broker and what to tell it when connecting.
struct MqttSettings
{
    // A broker client never needs more in one message: a frame as hexadecimal text in a JSON
    // message is a few KiB. Told to an MQTT 5 broker, which then drops larger messages instead
    // of handing them over; anyone on the broker could otherwise make this process hold a
    // message of hundreds of MiB.
    static constexpr int kDefaultMaximumMessageBytes = 256 * 1024;

    QString hostName = QStringLiteral("127.0.0.1");
    quint16 port = 1883;
    QString clientId;
    QString username;
    QString password;
    int keepAliveSeconds = 60;
    bool cleanSession = true;
    bool tls = false;
    QString caFile;
    // The largest packet this client takes; 0: no limit said.
    int maximumMessageBytes = kDefaultMaximumMessageBytes;

    static int keepAliveOf(int seconds)
    {
        constexpr int minimum = 5;
        return seconds <= 0 ? 0 : qBound(minimum, seconds, 0xFFFF);
    }
};
