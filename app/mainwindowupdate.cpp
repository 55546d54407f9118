// The update engine's slots of the main window: thin adapters between the form, the window's
// link and the widget-free update session. Those that block run a local loop until their
// step is done.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/accountlogin.h"
#include "app/batchupdatepage.h"
#include "app/console/logdisplay.h"
#include "app/mymqttconfig.h"
#include "app/myserialport.h"
#include "app/windowhistory.h"
#include "app/windowupdatelink.h"
#include "core/debugtrace.h"
#include "core/eventwait.h"
#include "platform/portidentity.h"
#include "protocol/bootframe.h"
#include "storage/imagesource.h"
#include "storage/nativefile.h"
#include "storage/settingskeys.h"
#include "update/updatesession.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QTime>
#include <QUuid>
#include <limits>

namespace {

// What to look at next, by what failed: the device, the way to it, or the image.
QString whatToCheck(UpdateFailure::Kind kind)
{
    switch (kind) {
    case UpdateFailure::Kind::LinkLost:
    case UpdateFailure::Kind::BrokerUnavailable:
        return MainWindow::tr("请检查串口连接或MQTT代理的连接");
    case UpdateFailure::Kind::ImageUnusable:
        return MainWindow::tr("请检查固件文件以及设备报告的分包参数");
    case UpdateFailure::Kind::Refused:
        return MainWindow::tr("请检查固件是否适合该设备以及目标设备类型");
    default:
        return MainWindow::tr("请检查目标设备类型、串口或网关ID以及设备电源");
    }
}

} // namespace

void MainWindow::sendFirmwarePacket(QString path, QByteArray *packet)
{
    if (updateSession->isRunning() || batchUpdatePage->isRunning()) {
        logDisplay->set(QStringLiteral("update already running, request ignored"));
        return;
    }
    showUpdateRunning();
    if (path.isEmpty() && !packet) {
        MAIN_TRACE_AS(lcUpdate, "sendFirmwarePacket") << "path error";
        updateSession->run(QByteArray(), QStringLiteral("no firmware image given"));
        return;
    }
    const bool fromFile = !packet || packet->isEmpty();
    const QString source =
        fromFile ? QStringLiteral("use nation firmware") : QStringLiteral("use netserver firmware");
    MAIN_TRACE_AS(lcUpdate, "sendFirmwarePacket") << source;
    logDisplay->set(source);
    QString problem;
    const QByteArray image = imageFrom(path, packet, &problem, fromFile ? &lastReadOk : nullptr);
    if (!problem.isEmpty())
        logDisplay->set(problem);
    beginWindowRecord();
    // A broker link that drops ends the update; it must not come back in the middle of it.
    mqttConfig->setReconnectHeld(true);
    updateSession->run(image);
    mqttConfig->setReconnectHeld(false);
}

// Each window update is a run of its own, with one record: the link and target the update
// takes, the image the source holds now.
void MainWindow::beginWindowRecord()
{
    const bool throughGateway = ui->checkBox_sendUseNet->isChecked();
    UpdateRecord record = imageRecord(QUuid::createUuid().toString(QUuid::WithoutBraces));
    record.link = throughGateway ? QStringLiteral("gateway") : QStringLiteral("serial");
    record.targetKind = TargetKindText::name(chosenTarget());
    if (throughGateway) {
        record.gateway = mqttConfig->currentGatewayId();
        record.target = record.gateway;
    } else {
        record.target = serialPort->chosenPortName();
        const PortIdentity port = PortIdentity::of(serialPort->channel().portName());
        record.portSerial = port.serialNumber;
        record.portUsbId = port.usbId;
        record.portById = port.byIdPath;
    }
    history->begin(record);
    windowRecord = record;
    // Opened now, if it must be, rather than when the device names itself in mid-update.
    history->reader();
}

// A record of `run` made now, with the image the source holds.
UpdateRecord MainWindow::imageRecord(const QString &run) const
{
    UpdateRecord record = history->newRecord(run, accountLogin->loggedInAccount);
    record.imageSha256 = image->sha256();
    if (image->facts().size >= 0)
        record.imageSize = image->facts().size;
    record.imageName = image->facts().name;
    record.imageSource = image->sourceText();
    return record;
}

void MainWindow::completeWindowRecord(UpdateOutcome outcome)
{
    if (!windowRecord)
        return;
    UpdateRecord record = *windowRecord;
    windowRecord.reset();
    const FleetResult result = outcome == UpdateOutcome::Success   ? FleetResult::Success
                               : outcome == UpdateOutcome::Skipped ? FleetResult::Skipped
                                                                   : FleetResult::Failed;
    WindowHistory::endRecord(&record, result, updateSession->failure(), updateSession->stats(),
                             record.started.msecsTo(QDateTime::currentDateTimeUtc()));
    history->complete(record);
}

// Read on the window's own connection: a local store answers at once, and a server is bounded by
// its statement time-out.
void MainWindow::sayLastUpdate(const QString &device)
{
    const QString line = history->lastUpdateLine(device);
    if (!line.isEmpty())
        logDisplay->set(line);
}

void MainWindow::firmwarePacketWrite(const char *data, qlonglong len)
{
    updateLink->writeFrame(QByteArray(data, int(len)));
}

// Blocks as it always did, in a local loop, until the link answers, times out or goes away.
QByteArray MainWindow::waitRecvData(int timeout_ms)
{
    if (!updateLink->unavailableReason().isEmpty())
        return QByteArray();
    QByteArray reply;
    runLinkStep(
        {&UpdateLink::replyTimedOut, &UpdateLink::becameUnavailable}, [&](QObject &context, bool &ended) {
            connect(updateLink.get(), &UpdateLink::replyReceived, &context, [&](const QByteArray &received) {
                reply = received;
                ended = true;
            });
            updateLink->awaitReply(timeout_ms);
        });
    return reply;
}

// Runs one step of the window's link in a local loop: `start` begins it (and may watch for its
// own end), any of `endSignals` ends it, and so does the window closing, which cancels it.
void MainWindow::runLinkStep(std::initializer_list<void (UpdateLink::*)()> endSignals,
                             const std::function<void(QObject &, bool &)> &start)
{
    bool ended = false;
    QObject context;
    for (auto endSignal : endSignals)
        connect(updateLink.get(), endSignal, &context, [&ended] { ended = true; });
    start(context, ended);
    EventWait::waitUntil([&] { return ended || windowClosing; }, std::numeric_limits<qint64>::max());
    if (!ended)
        updateLink->cancel();
}

void MainWindow::Delay_MSec(uint msec)
{
    EventWait::delayMs(msec, [this] { return windowClosing; });
}

int MainWindow::checkRc()
{
    ackBuffer.clear();
    EventWait::waitUntil([this] { return !ackBuffer.isEmpty(); }, 5000);
    if (ackBuffer.size() != 2 && ackBuffer.size() != 4) {
        MAIN_TRACE(lcUpdate) << "checkRc->no action";
        return 0;
    }
    const bool first = uint8_t(ackBuffer.at(0)) == 0xCC;
    const bool second = uint8_t(ackBuffer.at(1)) == 0xDD;
    MAIN_TRACE(lcUpdate) << "checkRc->get OK" << int(uint8_t(ackBuffer.at(0))) << (first ? "true" : "false");
    MAIN_TRACE(lcUpdate) << "checkRc->get OK" << int(uint8_t(ackBuffer.at(1))) << (second ? "true" : "false");
    if (!first || !second)
        return 0;
    MAIN_TRACE(lcUpdate) << "checkRc->get OK";
    return 1;
}

void MainWindow::myThreadRun()
{
    MAIN_TRACE(lcUpdate) << "Delay_MSec" << QTime::currentTime();
}

void MainWindow::sendBootCmd()
{
    runLinkStep({&UpdateLink::bootEntryDone}, [this](QObject &, bool &) { updateLink->sendBootEntry(); });
}

void MainWindow::consoleReturnCode(const QByteArray &frame)
{
    UpdateSession::consoleReturnCode(frame);
}

void MainWindow::decodeBootCmd(QByteArray src)
{
    if (!BootFrame::checkBootFrame(src))
        return;
    const auto *bytes = reinterpret_cast<const uint8_t *>(src.constData());
    MAIN_TRACE(lcUpdate) << "bootloader return CMD->" << BootFrame::bootCommandName(bytes[2]);
    consoleReturnCode(src);
    BootFrame::SplitLenRequest request;
    if (bytes[2] == BootCmd::SplitLen && src.size() == BootFrame::kSplitLenFrameSize &&
        BootFrame::parseSplitLenRequest(src, &request)) {
        MAIN_TRACE(lcUpdate) << "get uart cmd" << request.command;
        MAIN_TRACE(lcUpdate) << "get uart splitLen" << request.splitLen;
        MAIN_TRACE(lcUpdate) << "get uart uartLen" << request.uartLen;
        MAIN_TRACE(lcUpdate) << "get uart deviceAddr" << request.deviceAddr;
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
    MAIN_TRACE(lcUpdate) << "hexStr2Int32=" << value;
    return value;
}

void MainWindow::deviceSerialPort_click()
{
    const QString name = sender() ? sender()->objectName() : QString();
    MAIN_TRACE(lcUpdate) << "deviceSerialPort_click" << name;
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
    netserverFirmware.clear();
    lastReadOk = showLocalFileFacts(path);
    MAIN_TRACE_AS(lcUpdate, "deviceSerialPort_click")
        << lastReadOk << "---------------" << ui->lineEdit__firmware_length->text();
    if (!lastReadOk)
        logDisplay->set(QStringLiteral("firmware %1 is not a readable file").arg(path));
    ui->comboBox_update_link->setEditText(path);
    ui->comboBox_update_link->setToolTip(path);
    bool written = nativeFile->writeItem(SettingsKeys::dirListIndex,
                                         QString::number(ui->comboBox_update_link->currentIndex()));
    MAIN_TRACE_AS(lcUpdate, "deviceSerialPort_click") << written;
    written = nativeFile->writeItem(SettingsKeys::filePathFirmware, ui->comboBox_update_link->currentText());
    MAIN_TRACE_AS(lcUpdate, "deviceSerialPort_click") << written;
    lastReadOk = nativeFile->readItem(SettingsKeys::filePathFirmware, &lastReadText);
    MAIN_TRACE_AS(lcUpdate, "deviceSerialPort_click") << lastReadOk << "---------------" << lastReadText;
}

void MainWindow::startUpdate()
{
    const QString path = ui->comboBox_update_link->currentText();
    MAIN_TRACE_AS(lcUpdate, "deviceSerialPort_click") << "sendPackage all currendPath =" << path;
    ui->progressBar_upadate_progress->reset();
    // The file is read afresh as it goes out (imageFrom): the facts describe what is sent.
    sendFirmwarePacket(path, &netserverFirmware);
}

void MainWindow::connectUpdatePage()
{
    connect(ui->comboBox_update_link->lineEdit(), &QLineEdit::textEdited, this, &MainWindow::takeTypedPath);
    connect(ui->pushButton_update_stop, &QPushButton::clicked, this, [this] {
        updateSession->requestAbort({UpdateFailure::Kind::StoppedByUser, stoppedByUser()});
    });
}

void MainWindow::showUpdateRunning()
{
    ui->pushButton_update_start->setEnabled(false);
    ui->pushButton_update_stop->setEnabled(true);
    setUpdateStatus(tr("正在更新……点击“停止”可以中止。"), QColor());
}

// Said beside the bar: the console ends alike for every outcome, and a bar left at its last
// percentage looks like an update still running.
void MainWindow::showUpdateOutcome(UpdateOutcome outcome)
{
    ui->pushButton_update_start->setEnabled(true);
    ui->pushButton_update_stop->setEnabled(false);
    QProgressBar *bar = ui->progressBar_upadate_progress;
    if (outcome == UpdateOutcome::Success) {
        bar->setValue(bar->maximum());
        setUpdateStatus(tr("更新成功：设备已确认新固件。可以断开设备，或接上下一台设备再点击“开始更新”。"),
                        QColor(0x2e, 0x7d, 0x32));
        return;
    }
    const int reached = bar->value() > bar->minimum() ? int(qint64(bar->value()) * 100 / bar->maximum()) : 0;
    bar->reset();
    setUpdateStatus(updateFailureText(outcome, reached), QColor(0xc6, 0x28, 0x28));
}

QString MainWindow::updateFailureText(UpdateOutcome outcome, int reachedPercent) const
{
    if (outcome == UpdateOutcome::EmptyImage)
        return tr("没有可发送的固件：请先点击“打开文件”，或在“在线固件列表”中选择固件。");
    const UpdateFailure &failure = updateSession->failure();
    const QString reason = failure.text;
    if (failure.isStop())
        return tr("更新已停止（完成 %1%）：%2。可以再次点击“开始更新”。").arg(reachedPercent).arg(reason);
    return tr("更新失败（完成 %1%）：%2。\n%3，详情见“日志”页，然后再次点击“开始更新”。")
        .arg(reachedPercent)
        .arg(reason, whatToCheck(failure.kind));
}

void MainWindow::setUpdateStatus(const QString &text, const QColor &colour)
{
    QPalette palette = QApplication::palette(ui->label_update_status);
    if (colour.isValid())
        palette.setColor(QPalette::WindowText, colour);
    ui->label_update_status->setPalette(palette);
    ui->label_update_status->setText(text);
}

// A typed path is what "开始更新" sends from now on, in place of a cloud image.
void MainWindow::takeTypedPath(const QString &path)
{
    netserverFirmware.clear();
    ui->comboBox_update_link->setToolTip(path);
    showLocalFileFacts(path);
}

// The file at `path` becomes the image to send; false when it names no readable file, and then
// no earlier file's facts are shown.
bool MainWindow::showLocalFileFacts(const QString &path)
{
    return image->setFile(path);
}
