#pragma once

#include "updatereporter.h"

class FleetConsole;

// One target's session reports to the shared fleet console under the target's index.
class TargetReporter : public UpdateReporter
{
public:
    TargetReporter(FleetConsole &console, int index) : console(console), index(index) {}

    void consoleLine(const QString &text) override;
    void progressReset() override {}
    void progressMaximum(int maximum) override;
    void progressValue(int value) override;
    void deviceAddress(const QString &) override {}

private:
    FleetConsole &console;
    int index;
    qint64 total = 0;
};
