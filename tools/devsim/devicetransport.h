#pragma once

#include <QByteArray>
#include <QObject>

// The line between the tool and the simulated device: a pty, or a gateway on an MQTT
// broker handing the device the same frames.
class DeviceTransport : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~DeviceTransport() override;

    virtual void write(const QByteArray &bytes) = 0;

signals:
    void received(const QByteArray &bytes);
    // The gateway's boot request came through the broker; a pty has none.
    void bootRequested();
    void logLine(const QString &line);
};
