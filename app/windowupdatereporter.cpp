#include "app/windowupdatereporter.h"
#include "ui_mainwindow.h"

#include "app/console/logdisplay.h"

WindowUpdateReporter::WindowUpdateReporter(Ui::MainWindow *form, LogDisplay *console)
    : ui(form), logDisplay(console)
{
}

void WindowUpdateReporter::consoleLine(const QString &text)
{
    logDisplay->set(text);
}

void WindowUpdateReporter::progressReset()
{
    ui->progressBar_upadate_progress->reset();
}

void WindowUpdateReporter::progressMaximum(int maximum)
{
    ui->progressBar_upadate_progress->setMaximum(maximum);
}

void WindowUpdateReporter::progressValue(int value)
{
    ui->progressBar_upadate_progress->setValue(value);
}

void WindowUpdateReporter::deviceAddress(const QString &address)
{
    ui->lineEdit_targetDeviceAddr->setText(address);
}

void WindowUpdateReporter::deviceParameters(quint16 splitLen, quint16 uartLen)
{
    if (parametersListener)
        parametersListener(splitLen, uartLen);
}
