// Whatever a gateway (or anyone on the broker) publishes: the answer extraction must never read
// out of bounds, and what it finds must be the bytes of the hexadecimal text it reports.
#include "fuzz/fuzzsupport.h"
#include "protocol/gatewaymessages.h"

#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzedApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray message(reinterpret_cast<const char *>(data), int(size));
    const GatewayMessages::Packet packet = GatewayMessages::readPacket(message);
    if (packet.found && packet.frame != GatewayMessages::hexToBytes(packet.text))
        abort();
    // Any text as hexadecimal, and back: the bytes come out as they went in.
    const QByteArray bytes = GatewayMessages::hexToBytes(QString::fromUtf8(message));
    if (GatewayMessages::hexToBytes(GatewayMessages::bytesToHex(bytes)) != bytes)
        abort();
    // Any text as a gateway id: a topic, or a reason why not; never a broken JSON text.
    const QString id = QString::fromUtf8(message.left(64));
    if (GatewayMessages::gatewayIdProblem(id).isEmpty())
        GatewayMessages::subscriptionTopics(id);
    const QByteArray push = GatewayMessages::firmwarePushMessage(id, bytes.left(32));
    if (GatewayMessages::readPacket(push).frame != bytes.left(32))
        abort();
    return 0;
}
