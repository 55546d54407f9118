// The update engine's slots of the main window: thin adapters between the form, the
// serial worker and the widget-free update session.
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "bootentry.h"
#include "bootframe.h"
#include "console/logdisplay.h"
#include "debugtrace.h"
#include "eventwait.h"
#include "gatewayupdatelink.h"
#include "mymqttconfig.h"
#include "myserialport.h"
#include "nativefile.h"
#include "serialupdatelink.h"
#include "settingskeys.h"
#include "updatesession.h"
#include "windowupdatelink.h"
#include "windowupdatereporter.h"

#include <QFileDialog>
#include <QTime>

void MainWindow::sendFirmwarePacket(QString path, QByteArray *packet)
{
    const UpdateOutcome outcome = updateSession->run(path, packet);
    // Only a session that read the local file changes the window's read result.
    const bool usedLocalFile = !packet || packet->isEmpty();
    const bool readAttempted = !(path.isEmpty() && !packet);
    if (outcome != UpdateOutcome::Busy && usedLocalFile && readAttempted)
        lastReadOk = updateSession->lastReadOk();
}

void MainWindow::firmwarePacketWrite(const char *data, qlonglong len)
{
    if (ui->checkBox_sendUseNet->isChecked()) {
        gatewayLink->writeFrame(data, len);
        return;
    }
    serialPort->write(data, len);
}

QByteArray MainWindow::waitRecvData(int timeout_ms)
{
    if (ui->checkBox_sendUseNet->isChecked()) {
        // The link reads each message on its own; the buffer is emptied as before for its readers.
        mqttConfig->mqttRecvBuffer.clear();
        const QByteArray reply = gatewayLink->waitReply(timeout_ms);
        mqttConfig->mqttRecvBuffer.clear();
        return reply;
    }
    return serialPort->takeReply(timeout_ms, [this] { return updateAborting(); });
}

bool MainWindow::updateAborting() const
{
    return updateLink && updateLink->stopRequested();
}

void MainWindow::Delay_MSec(uint msec)
{
    EventWait::delayMs(msec, [this] { return updateAborting(); });
}

int MainWindow::checkRc()
{
    ackBuffer.clear();
    EventWait::waitUntil([this] { return !ackBuffer.isEmpty(); }, 5000);
    if (ackBuffer.size() != 2 && ackBuffer.size() != 4) {
        MAIN_TRACE() << "checkRc->no action";
        return 0;
    }
    const bool first = uint8_t(ackBuffer.at(0)) == 0xCC;
    const bool second = uint8_t(ackBuffer.at(1)) == 0xDD;
    MAIN_TRACE() << "checkRc->get OK" << int(uint8_t(ackBuffer.at(0))) << (first ? "true" : "false");
    MAIN_TRACE() << "checkRc->get OK" << int(uint8_t(ackBuffer.at(1))) << (second ? "true" : "false");
    if (!first || !second)
        return 0;
    MAIN_TRACE() << "checkRc->get OK";
    return 1;
}

void MainWindow::myThreadRun()
{
    MAIN_TRACE() << "Delay_MSec" << QTime::currentTime();
}

void MainWindow::sendBootCmd()
{
    TargetKind target = TargetKind::DemoBoard;
    if (ui->radioButton_target_directModue->isChecked())
        target = TargetKind::Module;
    else if (ui->radioButton_target_gateway->isChecked())
        target = TargetKind::Gateway;
    SerialUpdateLink serial(*serialPort, target);
    if (!ui->checkBox_sendUseNet->isChecked()) {
        serial.sendBootEntry();
        return;
    }
    performBootEntry(target, serial, true, gatewayLink.get());
}

void MainWindow::consoleReturnCode(const QByteArray &frame)
{
    UpdateSession::consoleReturnCode(frame);
}

void MainWindow::decodeBootCmd(QByteArray src)
{
    if (!checkBootFrame(src))
        return;
    const auto *bytes = reinterpret_cast<const uint8_t *>(src.constData());
    MAIN_TRACE() << "bootloader return CMD->" << bootCommandName(bytes[2]);
    consoleReturnCode(src);
    SplitLenRequest request;
    if (bytes[2] == BootCmd::SplitLen && src.size() == kSplitLenFrameSize &&
        parseSplitLenRequest(src, &request)) {
        MAIN_TRACE() << "get uart cmd" << request.command;
        MAIN_TRACE() << "get uart splitLen" << request.splitLen;
        MAIN_TRACE() << "get uart uartLen" << request.uartLen;
        MAIN_TRACE() << "get uart deviceAddr" << request.deviceAddr;
    }
}

uint32_t MainWindow::hexStr2Int32(QString text)
{
    text.remove(QLatin1Char(' '));
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        const uint byte = text.mid(2 * i, 2).toUInt(&ok, 16);
        value = (value << 8) | (ok && text.mid(2 * i, 2).size() == 2 ? byte : 0);
    }
    MAIN_TRACE() << "hexStr2Int32=" << value;
    return value;
}

void MainWindow::deviceSerialPort_click()
{
    const QString name = sender() ? sender()->objectName() : QString();
    MAIN_TRACE() << "deviceSerialPort_click" << name;
    if (name.contains(QStringLiteral("pushButton_update_openFile")))
        openFirmwareFile();
    else if (name.contains(QStringLiteral("pushButton_update_start")))
        startUpdate();
}

void MainWindow::openFirmwareFile()
{
    const QString path = QFileDialog::getOpenFileName(
        this, tr("打开文件"), ui->comboBox_update_link->currentText(), tr("Image Files (*.bin)"));
    if (path.isEmpty())
        return;
    const qint64 size = nativeFile->getFileSize(path);
    lastReadOk = size >= 0;
    MAIN_TRACE_AS("deviceSerialPort_click") << lastReadOk << "---------------" << size;
    if (lastReadOk)
        showFirmwareFacts(path, size);
    else
        logDisplay->set(QStringLiteral("firmware %1 is not a readable file").arg(path));
    ui->comboBox_update_link->setEditText(path);
    ui->comboBox_update_link->setToolTip(path);
    bool written = nativeFile->writeItem(SettingsKeys::dirListIndex,
                                         QString::number(ui->comboBox_update_link->currentIndex()));
    MAIN_TRACE_AS("deviceSerialPort_click") << written;
    written = nativeFile->writeItem(SettingsKeys::filePathFirmware, ui->comboBox_update_link->currentText());
    MAIN_TRACE_AS("deviceSerialPort_click") << written;
    lastReadOk = nativeFile->readItem(SettingsKeys::filePathFirmware, &lastReadText);
    netserverFirmware.clear();
    MAIN_TRACE_AS("deviceSerialPort_click") << lastReadOk << "---------------" << lastReadText;
}

void MainWindow::startUpdate()
{
    const QString path = ui->comboBox_update_link->currentText();
    MAIN_TRACE_AS("deviceSerialPort_click") << "sendPackage all currendPath =" << path;
    ui->progressBar_upadate_progress->reset();
    sendFirmwarePacket(path, &netserverFirmware);
}
