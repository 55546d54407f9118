// Received bytes in any order and any pieces, with silences, writes and boot entries in between:
// the cutter must never read out of bounds, and never hand over more than it received.
#include "fuzz/fuzzsupport.h"
#include "protocol/bootframe.h"
#include "serial/replycutter.h"

#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzedApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    ReplyCutter cutter;
    cutter.setBaudRate(input.ConsumeIntegralInRange<qint32>(0, 4000000));
    qint64 fed = 0;
    qint64 handedOver = 0;
    const auto takeAll = [&] {
        while (cutter.hasReply()) {
            const QByteArray reply = cutter.takeReply();
            if (reply.isEmpty())
                abort();
            BootFrame::checkBootFrame(reply);
            handedOver += reply.size();
        }
    };
    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange<int>(0, 5)) {
        case 0:
            cutter.silenceElapsed();
            break;
        case 1:
            cutter.discardReceived(QStringLiteral("before a frame was written"));
            break;
        case 2:
            cutter.discardAllButFrames(QStringLiteral("in answer to the boot entry"));
            break;
        case 3:
            takeAll();
            break;
        default: {
            const std::string bytes = input.ConsumeRandomLengthString(600);
            fed += qint64(bytes.size());
            cutter.feed(QByteArray(bytes.data(), int(bytes.size())));
        }
        }
    }
    cutter.silenceElapsed();
    takeAll();
    if (handedOver > fed)
        abort();
    return 0;
}
