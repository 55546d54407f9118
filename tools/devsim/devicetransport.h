#pragma once

#include <QByteArray>
#include <QObject>

// The line between the tool and the simulated device: a pty now; a gateway on an MQTT
// broker can stand beside it, handing the device the same frames.
class DeviceTransport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~DeviceTransport() override;

    virtual void write(const QByteArray &bytes) = 0;

signals:
    void received(const QByteArray &bytes);
};
