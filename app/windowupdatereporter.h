#pragma once

#include "updatereporter.h"

class LogDisplay;
namespace Ui {
class MainWindow;
}

// Shows the update session's report in the window: console lines, progress bar, address.
class WindowUpdateReporter : public UpdateReporter
{
public:
    WindowUpdateReporter(Ui::MainWindow *form, LogDisplay *console);

    void consoleLine(const QString &text) override;
    void progressReset() override;
    void progressMaximum(int maximum) override;
    void progressValue(int value) override;
    void deviceAddress(const QString &address) override;

private:
    Ui::MainWindow *ui;
    LogDisplay *logDisplay;
};
