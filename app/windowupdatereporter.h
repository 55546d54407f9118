#pragma once

#include "update/updatereporter.h"

#include <functional>

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
    void deviceParameters(quint16 splitLen, quint16 uartLen) override;

    // Told of the lengths a device announced.
    void setParametersListener(std::function<void(quint16, quint16)> listener)
    {
        parametersListener = std::move(listener);
    }

private:
    std::function<void(quint16, quint16)> parametersListener;
    Ui::MainWindow *ui;
    LogDisplay *logDisplay;
};
