#include "bootentry.h"

#include "bootentryport.h"
#include "bootframe.h"
#include "debugtrace.h"
#include "gatewaybootpublisher.h"

#define BOOT_TRACE() MAIN_TRACE_AS("sendBootCmd")

namespace {

// Time the module gets to answer each command before the next one.
constexpr int kModuleAnswerWaitMs = 100;

void sendModuleCommands(BootEntryPort &serial)
{
    const QByteArray configMode = moduleConfigModeCommand();
    serial.write(configMode.constData(), configMode.size());
    BOOT_TRACE() << "send config mode cmd";
    serial.readWait(kModuleAnswerWaitMs);

    const QByteArray intoBoot = moduleIntoBootCommand();
    serial.write(intoBoot.constData(), intoBoot.size());
    BOOT_TRACE() << "send into boot cmd";
    serial.readWait(kModuleAnswerWaitMs);
}

} // namespace

void encodeModuleCommand(uint8_t *buffer, uint8_t total)
{
    if (total < 2)
        return;
    buffer[0] = uint8_t(total - 1);
    buffer[total - 1] = crc8(buffer, uint16_t(total - 1));
}

QByteArray moduleCommand(uint8_t command, uint8_t parameter)
{
    QByteArray frame(4, '\0');
    frame[1] = char(command);
    frame[2] = char(parameter);
    encodeModuleCommand(reinterpret_cast<uint8_t *>(frame.data()), uint8_t(frame.size()));
    return frame;
}

QByteArray moduleConfigModeCommand()
{
    return moduleCommand(ModuleCmd::ConfigMode, 0x01);
}

QByteArray moduleIntoBootCommand()
{
    return moduleCommand(ModuleCmd::IntoBoot, 0x01);
}

QByteArray gatewaySerialBootText()
{
    return QByteArrayLiteral(
        R"({"method":"thing/gw/config/set","sys":{"ack":1,"src":"ext"},"params":[{"boot":1}]})");
}

QString gatewayBootTopic(const QString &gatewayId)
{
    return QStringLiteral("thing/%1/gw/config/set").arg(gatewayId);
}

QByteArray gatewayBootMessage()
{
    return QByteArrayLiteral(
        R"({"method":"thing/gw/config/set","sys":{"src":"sv","ack":1},"params":[{"boot":1}]})");
}

void performBootEntry(TargetKind target, BootEntryPort &serial, bool overGateway,
                      GatewayBootPublisher *publisher)
{
    switch (target) {
    case TargetKind::Module:
        sendModuleCommands(serial);
        break;
    case TargetKind::Gateway:
        if (!overGateway)
            serial.write(gatewaySerialBootText().constData());
        else if (publisher)
            publisher->publishBootRequest();
        break;
    case TargetKind::DemoBoard:
        break;
    }
}
