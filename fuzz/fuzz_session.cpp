// A whole update against a device whose every answer comes from the fuzzer: valid frames with
// any command and payload, requests with any parameters, noise, silence. The session must end,
// never read past a reply, and never send a frame that does not hold.
#include "fuzz/fuzzsupport.h"
#include "protocol/bootframe.h"
#include "update/updatelink.h"
#include "update/updatereporter.h"
#include "update/updatesession.h"

#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

class ScriptedDevice : public UpdateLink
{
public:
    explicit ScriptedDevice(FuzzedDataProvider &input) : input(input) {}

    void writeFrame(const QByteArray &frame) override
    {
        if (!BootFrame::checkBootFrame(frame))
            abort();
    }
    void awaitReply(int) override
    {
        const QByteArray answer = nextAnswer();
        QMetaObject::invokeMethod(
            this,
            [this, answer] {
                if (answer.isEmpty())
                    emit replyTimedOut();
                else
                    emit replyReceived(answer);
            },
            Qt::QueuedConnection);
    }
    void sendBootEntry() override { emit bootEntryDone(); }
    bool usesGateway() const override { return false; }
    void pause(qint64) override
    {
        QMetaObject::invokeMethod(this, &UpdateLink::pauseDone, Qt::QueuedConnection);
    }

private:
    QByteArray nextAnswer()
    {
        if (input.remaining_bytes() == 0)
            return QByteArray();
        switch (input.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return QByteArray();
        case 1: {
            BootFrame::SplitLenRequest request;
            request.command = BootCmd::SplitLen;
            // Small splits keep one run short; the engine's bounds are what is searched.
            request.splitLen = input.ConsumeIntegralInRange<uint16_t>(0, 300);
            request.uartLen = input.ConsumeIntegralInRange<uint16_t>(0, 300);
            request.overDelay = input.ConsumeIntegral<uint16_t>();
            request.deviceAddr = input.ConsumeIntegral<uint32_t>();
            return BootFrame::encodeSplitLenRequest(request);
        }
        case 2: {
            const uint8_t command = input.ConsumeIntegral<uint8_t>();
            const std::string payload = input.ConsumeRandomLengthString(16);
            return BootFrame::makeBootFrame(command, QByteArray(payload.data(), int(payload.size())));
        }
        default: {
            const std::string bytes = input.ConsumeRandomLengthString(32);
            return QByteArray(bytes.data(), int(bytes.size()));
        }
        }
    }

    FuzzedDataProvider &input;
};

class SilentReporter : public UpdateReporter
{
public:
    void consoleLine(const QString &) override {}
    void progressReset() override {}
    void progressMaximum(int) override {}
    void progressValue(int) override {}
    void deviceAddress(const QString &) override {}
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzedApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QByteArray image(input.ConsumeIntegralInRange<int>(1, 1500), '\x5a');
    ScriptedDevice device(input);
    SilentReporter reporter;
    UpdateSession session(device, reporter);
    session.run(image);
    return 0;
}
