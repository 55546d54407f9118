#pragma once

#include "update/updatereporter.h"

#include <QElapsedTimer>

class OutputWriter;

// The flasher's report: every console line on stdout, and a progress bar with bytes, rate and
// time left on stderr when stderr is a terminal.
class CliReporter : public UpdateReporter
{
public:
    CliReporter(OutputWriter &writer, bool showProgress);

    void consoleLine(const QString &text) override;
    void progressReset() override;
    void progressMaximum(int maximum) override;
    void progressValue(int value) override;
    void deviceAddress(const QString &address) override;

    // Leaves the last state of the progress bar on its own line.
    void finishProgress();

    // "[####......]  12288/65536 B  11.2 KiB/s  0:04 left"
    static QString progressText(qint64 done, qint64 total, qint64 elapsedMs, int width = 30);

private:
    QString currentProgress() const;
    void drawProgress();

    OutputWriter &writer;
    bool progressEnabled;
    bool progressShown = false;
    qint64 total = 0;
    qint64 done = 0;
    QElapsedTimer clock;
};
