#pragma once

#include <QString>

// One gateway of the MQTT window's list and whether its six answer topics are subscribed.
struct GatewaySubscription
{
    QString gatewayId;
    bool subState = false;
};
