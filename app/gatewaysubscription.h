#pragma once

#include <QString>

// One gateway of the MQTT window's list and whether its six answer topics are subscribed.
struct GatewaySubscription
{
    QString gatewayId;
    // The user wants the topics subscribed, and every connection subscribes them anew:
    // the broker forgets them when it restarts or the session is clean.
    bool subState = false;
};
