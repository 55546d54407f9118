#include "tools/devsim/simulateddevice.h"

#include "tools/devsim/devicetransport.h"

SimulatedDevice::SimulatedDevice(const QString &name, const SimulatorOptions &options,
                                 DeviceTransport *transport, QObject *parent)
    : QObject(parent), deviceName(name),
      linePrefix(options.deviceCount() > 1 ? QStringLiteral("[%1] ").arg(name) : QString()),
      simulator(options.forDevice(name)), radioHop(options.latencyMs)
{
    connect(transport, &DeviceTransport::received, &simulator, &DeviceSimulator::receive);
    connect(transport, &DeviceTransport::bootRequested, &simulator, &DeviceSimulator::gatewayBootRequest);
    connect(&simulator, &DeviceSimulator::output, &radioHop, &RadioHop::send);
    connect(&radioHop, &RadioHop::delivered, transport, &DeviceTransport::write);
    const auto forward = [this](const QString &line) { emit logLine(linePrefix + line); };
    connect(&simulator, &DeviceSimulator::logLine, this, forward);
    connect(transport, &DeviceTransport::logLine, this, forward);
    connect(&simulator, &DeviceSimulator::updateStarted, this, &SimulatedDevice::updateStarted);
    connect(&simulator, &DeviceSimulator::updateConfirmed, this, &SimulatedDevice::updateConfirmed);
    connect(&simulator, &DeviceSimulator::firmwareFrameReceived, this,
            &SimulatedDevice::firmwareFrameReceived);
}
