#include "windowupdatelink.h"
#include "ui_mainwindow.h"

#include "gatewayupdatelink.h"
#include "mainwindow.h"
#include "myserialport.h"

WindowUpdateLink::WindowUpdateLink(MainWindow *window) : mainWindow(window) {}

void WindowUpdateLink::writeFrame(const char *data, qint64 len)
{
    mainWindow->firmwarePacketWrite(data, len);
}

QByteArray WindowUpdateLink::waitReply(int timeoutMs)
{
    return mainWindow->waitRecvData(timeoutMs);
}

void WindowUpdateLink::sendBootEntry()
{
    mainWindow->sendBootCmd();
}

bool WindowUpdateLink::usesGateway() const
{
    return mainWindow->form()->checkBox_sendUseNet->isChecked();
}

void WindowUpdateLink::delayMs(uint ms)
{
    mainWindow->Delay_MSec(ms);
}

QString WindowUpdateLink::unavailableReason() const
{
    // Frames through the gateway do not need the serial port.
    if (usesGateway())
        return mainWindow->gatewayUpdateLink()->unavailableReason();
    return mainWindow->serialWorker()->unavailableReason();
}
