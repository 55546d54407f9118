#pragma once

#include <QByteArray>
#include <QList>

// Cuts the byte stream from the tool into boot entry commands and bootloader frames.
// The tool's writes arrive in arbitrary bursts, so a frame may come in pieces or two
// frames in one read; bytes that start nothing known are dropped one by one until the
// stream makes sense again.
class FrameReassembler
{
public:
    enum class Kind
    {
        ModuleConfigCommand,
        ModuleBootCommand,
        GatewayBootText,
        BootFrame,
        Garbage
    };
    struct Item
    {
        Kind kind;
        QByteArray bytes;
    };

    static QByteArray moduleConfigCommand();
    static QByteArray moduleBootCommand();
    static QByteArray gatewayBootText();

    // Largest length field taken for a frame; anything longer is garbage.
    void setMaxFrameLength(int length) { maxFrameLength = length; }

    QList<Item> feed(const QByteArray &bytes);
    // A partial item that never completes would block the stream: drop its first byte.
    QList<Item> dropStalledByte();
    bool hasPartialItem() const { return !buffer.isEmpty(); }
    void clear() { buffer.clear(); }

private:
    enum class Match
    {
        None,
        Partial,
        Whole
    };

    QList<Item> takeItems();
    Match matchEntryCommand(Item *item) const;
    Match matchBootFrame(Item *item) const;

    QByteArray buffer;
    int maxFrameLength = 0xFFFF;
};
