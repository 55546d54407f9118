#include "simulateddevice.h"

#include "devicetransport.h"

SimulatedDevice::SimulatedDevice(const QString &name, const SimulatorOptions &options,
                                 DeviceTransport *transport, QObject *parent)
    : QObject(parent), m_name(name),
      m_logPrefix(options.deviceCount() > 1 ? QStringLiteral("[%1] ").arg(name) : QString()),
      m_simulator(options.forDevice(name)), m_hop(options.latencyMs)
{
    connect(transport, &DeviceTransport::received, &m_simulator, &DeviceSimulator::receive);
    connect(transport, &DeviceTransport::bootRequested, &m_simulator, &DeviceSimulator::gatewayBootRequest);
    connect(&m_simulator, &DeviceSimulator::output, &m_hop, &RadioHop::send);
    connect(&m_hop, &RadioHop::delivered, transport, &DeviceTransport::write);
    const auto forward = [this](const QString &line) { emit logLine(m_logPrefix + line); };
    connect(&m_simulator, &DeviceSimulator::logLine, this, forward);
    connect(transport, &DeviceTransport::logLine, this, forward);
}
