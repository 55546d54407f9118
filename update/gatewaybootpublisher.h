#pragma once

// Publishes the boot request of a gateway target through the MQTT broker, to the gateway
// chosen at the time of the call.
class GatewayBootPublisher
{
public:
    virtual ~GatewayBootPublisher() = default;

    virtual void publishBootRequest() = 0;
};
