#pragma once

#include "updatereporter.h"

#include <functional>

// One gateway's session in the batch page: its console lines go to the log behind its id,
// its progress to its row.
class BatchRowReporter : public UpdateReporter
{
public:
    using ProgressListener = std::function<void(qint64 done, qint64 total)>;

    BatchRowReporter(const QString &gatewayId, std::function<void(const QString &)> console,
                     ProgressListener progress);

    void consoleLine(const QString &text) override;
    void progressReset() override {}
    void progressMaximum(int maximum) override;
    void progressValue(int value) override;
    void deviceAddress(const QString &) override {}

private:
    QString prefix;
    std::function<void(const QString &)> console;
    ProgressListener progress;
    qint64 total = 0;
};
