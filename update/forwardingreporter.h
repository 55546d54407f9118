#pragma once

#include "update/updatereporter.h"

#include <functional>

// A session's report handed on to whoever shows it for one of many targets: its console lines,
// and its progress as bytes done of bytes in all.
class ForwardingReporter : public UpdateReporter
{
public:
    using LineSink = std::function<void(const QString &text)>;
    using ProgressSink = std::function<void(qint64 done, qint64 total)>;

    ForwardingReporter(LineSink lines, ProgressSink progress)
        : lines(std::move(lines)), progress(std::move(progress))
    {
    }

    void consoleLine(const QString &text) override { lines(text); }
    void progressReset() override {}
    void progressMaximum(int maximum) override
    {
        total = maximum;
        progress(0, total);
    }
    void progressValue(int value) override { progress(value, total); }
    void deviceAddress(const QString &) override {}

private:
    LineSink lines;
    ProgressSink progress;
    qint64 total = 0;
};
