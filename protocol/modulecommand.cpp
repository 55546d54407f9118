#include "protocol/modulecommand.h"

#include "protocol/bootframe.h"

namespace ModuleCommand {

void encode(uint8_t *buffer, uint8_t total)
{
    if (total < 2)
        return;
    buffer[0] = uint8_t(total - 1);
    buffer[total - 1] = BootFrame::crc8(buffer, uint16_t(total - 1));
}

QByteArray make(uint8_t command, uint8_t parameter)
{
    QByteArray frame(4, '\0');
    frame[1] = char(command);
    frame[2] = char(parameter);
    encode(reinterpret_cast<uint8_t *>(frame.data()), uint8_t(frame.size()));
    return frame;
}

QByteArray configMode()
{
    return make(ConfigMode, 0x01);
}

QByteArray intoBoot()
{
    return make(IntoBoot, 0x01);
}

} // namespace ModuleCommand
