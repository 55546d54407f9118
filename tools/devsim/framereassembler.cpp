#include "tools/devsim/framereassembler.h"

#include "protocol/bootframe.h"

namespace {

constexpr int kMinFrameLength = 3;

void appendGarbage(QList<FrameReassembler::Item> *items, char byte)
{
    if (items->isEmpty() || items->last().kind != FrameReassembler::Kind::Garbage)
        items->append({FrameReassembler::Kind::Garbage, QByteArray()});
    items->last().bytes.append(byte);
}

} // namespace

// The boot entry bytes are written out here rather than taken from the tool's own encoder:
// the simulated device is the tool's counterpart, so an encoding fault in the tool must
// show up as a device that does not react.
QByteArray FrameReassembler::moduleConfigCommand()
{
    return QByteArray::fromHex("0326018E");
}

QByteArray FrameReassembler::moduleBootCommand()
{
    return QByteArray::fromHex("0353016D");
}

QByteArray FrameReassembler::gatewayBootText()
{
    return QByteArrayLiteral(
        R"({"method":"thing/gw/config/set","sys":{"ack":1,"src":"ext"},"params":[{"boot":1}]})");
}

QList<FrameReassembler::Item> FrameReassembler::feed(const QByteArray &bytes)
{
    buffer.append(bytes);
    return takeItems();
}

QList<FrameReassembler::Item> FrameReassembler::dropStalledByte()
{
    QList<Item> items;
    if (buffer.isEmpty())
        return items;
    appendGarbage(&items, buffer.at(0));
    buffer.remove(0, 1);
    for (const Item &item : takeItems()) {
        if (item.kind == Kind::Garbage)
            items.last().bytes.append(item.bytes);
        else
            items.append(item);
    }
    return items;
}

QList<FrameReassembler::Item> FrameReassembler::takeItems()
{
    QList<Item> items;
    while (!buffer.isEmpty()) {
        Item item{Kind::Garbage, QByteArray()};
        Match match = matchEntryCommand(&item);
        if (match == Match::None)
            match = matchBootFrame(&item);
        if (match == Match::Partial)
            break;
        if (match == Match::Whole) {
            items.append(item);
            buffer.remove(0, item.bytes.size());
            continue;
        }
        appendGarbage(&items, buffer.at(0));
        buffer.remove(0, 1);
    }
    return items;
}

FrameReassembler::Match FrameReassembler::matchEntryCommand(Item *item) const
{
    const struct
    {
        Kind kind;
        QByteArray bytes;
    } commands[] = {{Kind::ModuleConfigCommand, moduleConfigCommand()},
                    {Kind::ModuleBootCommand, moduleBootCommand()},
                    {Kind::GatewayBootText, gatewayBootText()}};
    for (const auto &command : commands) {
        if (buffer.startsWith(command.bytes)) {
            *item = {command.kind, command.bytes};
            return Match::Whole;
        }
        if (command.bytes.startsWith(buffer))
            return Match::Partial;
    }
    return Match::None;
}

FrameReassembler::Match FrameReassembler::matchBootFrame(Item *item) const
{
    if (buffer.size() < 2)
        return Match::Partial;
    const int length = BootFrame::readLe16(reinterpret_cast<const uint8_t *>(buffer.constData()));
    if (length < kMinFrameLength || length > maxFrameLength)
        return Match::None;
    if (buffer.size() < length + 2)
        return Match::Partial;
    *item = {Kind::BootFrame, buffer.left(length + 2)};
    return Match::Whole;
}
