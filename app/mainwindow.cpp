#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/accountlogin.h"
#include "app/batchupdatepage.h"
#include "app/brokerindicator.h"
#include "app/console/appstartmessage.h"
#include "app/console/logdisplay.h"
#include "app/historypage.h"
#include "app/historysettingsdialog.h"
#include "app/mymqttconfig.h"
#include "app/myserialport.h"
#include "app/stationpage.h"
#include "app/windowhistory.h"
#include "app/windowlanguage.h"
#include "app/windowupdatelink.h"
#include "app/windowupdatereporter.h"
#include "core/debugtrace.h"
#include "core/eventwait.h"
#include "links/brokersession.h"
#include "platform/platformpaths.h"
#include "storage/configini.h"
#include "storage/imagesource.h"
#include "storage/nativefile.h"
#include "storage/settingskeys.h"
#include "update/updateestimate.h"
#include "update/updatesession.h"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {

// The title project.conf ships with has a translation; a title of the user's own shows as written.
const char *const kShippedTitle = QT_TRANSLATE_NOOP("MainWindow", "plovikKit 固件升级工具");

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent), ui(new Ui::MainWindow)
{
    // An update traces every frame; under a desktop session stderr lands in a file that would
    // grow by a hundred megabytes a day. The menu's entry switches the trace on.
    DebugTrace::setTraceOn(false);
    nativeFile = new NativeFile(this);
    ui->setupUi(this);
    image = new ImageSource(this);
    connect(image, &ImageSource::changed, this, &MainWindow::showImageFacts);
    formSize = size();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        fitToScreen(screen->availableGeometry());
    restoreTitle();
    restoreLastFirmware();
    const QString settingsRefusal = ConfigIni::writeRefusal();
    if (!settingsRefusal.isEmpty())
        startupNotes << settingsRefusal;
    setUpFirmwareTable();
    setTargetToolTips();
    // The start-up version query goes out once the window is shown (showEvent).
    showAboutTexts();
    createSerialWorker();
    createAccountButton();
    buildTopStrip();
    initialize_mainTimer(1);
    uart_bondDeviceSerialPort_controls();
    connectUpdatePage();
    createLogConsole();
    createMqttWindow();
    createHistory();
    buildMenuBar();

    createUpdateEngine();
    createBatchPage();
    createStationPage();
    createHistoryPage();
    reportPortTrouble();
}

MainWindow::~MainWindow() = default;

void MainWindow::createUpdateEngine()
{
    WindowUpdateLink::Choice choice;
    choice.throughGateway = [this] { return ui->checkBox_sendUseNet->isChecked(); };
    choice.target = [this] { return chosenTarget(); };
    choice.gatewayId = [this] { return mqttConfig->currentGatewayId(); };
    // The receive buffer keeps filling for whoever reads it; a wait starts it afresh.
    choice.gatewayWaitStarted = [this] { mqttConfig->mqttRecvBuffer.clear(); };
    // Without its answer topics granted a gateway's answers never arrive: 10 attempts of 20 s.
    choice.gatewayProblem = [this] {
        const QString gatewayId = mqttConfig->currentGatewayId();
        if (mqttConfig->isGatewaySubscribed(gatewayId))
            return QString();
        return QStringLiteral("gateway %1 is not subscribed: press \"订阅\" in the MQTT settings first")
            .arg(gatewayId);
    };
    updateLink =
        std::make_unique<WindowUpdateLink>(serialPort->channel(), mqttConfig->brokerSession(), choice);
    updateLink->gatewayLink().setConsole([this](const QString &text) { logDisplay->set(text); });
    updateReporter = std::make_unique<WindowUpdateReporter>(ui.get(), logDisplay.get());
    updateReporter->setParametersListener([this](quint16 splitLen, quint16 packetLen) {
        announcedSplitLen = splitLen;
        announcedPacketLen = packetLen;
        refreshUpdateEstimate();
    });
    updateSession = std::make_unique<UpdateSession>(*updateLink, *updateReporter);
    // The round trip through a gateway is only known once one was seen.
    connect(updateSession.get(), &UpdateSession::finished, this, &MainWindow::refreshUpdateEstimate);
    connect(updateSession.get(), &UpdateSession::finished, this, &MainWindow::showUpdateOutcome);
    connect(updateSession.get(), &UpdateSession::finished, this, &MainWindow::completeWindowRecord);
    connect(updateSession.get(), &UpdateSession::deviceAnnounced, this, &MainWindow::sayLastUpdate);
    connect(ui->checkBox_sendUseNet, &QCheckBox::toggled, this, &MainWindow::refreshUpdateEstimate);
    connect(&serialPort->channel(), &SerialChannel::baudRateChanged, this,
            &MainWindow::refreshUpdateEstimate);
    refreshUpdateEstimate();
}

// The time the next update will take: from the image's size, the link and its rate, and the
// lengths the last device announced.
void MainWindow::refreshUpdateEstimate()
{
    const qint64 size = image->facts().size;
    if (size <= 0) {
        ui->lineEdit__firmware_update_time->clear();
        return;
    }
    const UpdateEstimate estimate(
        size, announcedSplitLen > 0 ? announcedSplitLen : UpdateEstimate::kUsualSplitLen,
        announcedPacketLen > 0 ? announcedPacketLen : UpdateEstimate::kUsualPacketLen);
    const qint64 ms = ui->checkBox_sendUseNet->isChecked()
                          ? estimate.gatewayMs(updateLink->gatewayLink().lastRoundTripMs())
                          : estimate.serialMs(serialPort->channel().baudRate());
    ui->lineEdit__firmware_update_time->setText(UpdateEstimate::text(ms));
}

// The form's size suits a desktop monitor; a laptop's screen is smaller. The window's minimum is
// what its fields need, so it never shrinks below that.
void MainWindow::fitToScreen(const QRect &freeArea)
{
    constexpr int kTitleBarRoom = 40;
    resize(formSize.boundedTo(freeArea.size() - QSize(0, kTitleBarRoom)));
}

void MainWindow::createBatchPage()
{
    BatchUpdatePage::Context context;
    context.knownGateways = [this] {
        QStringList gateways;
        for (int i = 0; i < mqttConfig->comboBox_mqtt_gatewayId->count(); ++i)
            gateways << mqttConfig->comboBox_mqtt_gatewayId->itemText(i);
        return gateways;
    };
    context.image = [this](QString *problem) { return imageToSend(problem); };
    context.target = [this] { return chosenTarget(); };
    context.console = [this](const QString &text) { logDisplay->set(text); };
    context.mayStart = [this](QString *problem) { return noUpdateRunning(problem); };
    context.history = history.get();
    context.newRecord = [this](const QString &run) { return imageRecord(run); };
    // A batch waits for a broker that went away; the session subscribes its gateways again.
    batchUpdatePage = std::make_unique<BatchUpdatePage>(mqttConfig->brokerSession(), context);
    ui->tabWidget->addTab(batchUpdatePage.get(), tr("批量更新"));
}

// A batch or a station starts only while the update page's own update is not running.
bool MainWindow::noUpdateRunning(QString *problem) const
{
    if (updateSession->isRunning())
        *problem = QStringLiteral("an update is running");
    return problem->isEmpty();
}

void MainWindow::createStationPage()
{
    StationPage::Context context;
    context.image = image;
    context.imageBytes = [this](QString *problem) { return imageToSend(problem); };
    context.console = [this](const QString &text) { logDisplay->set(text); };
    context.mayStart = [this](QString *problem) { return noUpdateRunning(problem); };
    context.history = history.get();
    context.newRecord = [this](const QString &run) { return imageRecord(run); };
    stationView = std::make_unique<StationPage>(context);
    ui->tabWidget->addTab(stationView.get(), tr("量产"));
}

void MainWindow::createHistory()
{
    history = std::make_unique<WindowHistory>([this](const QString &text) { logDisplay->set(text); });
}

void MainWindow::createHistoryPage()
{
    historyView = std::make_unique<HistoryPage>(*history);
    ui->tabWidget->addTab(historyView.get(), tr("历史记录"));
}

// What "开始更新" sends: the image downloaded from the catalogue, else the file in the path box.
QByteArray MainWindow::imageToSend(QString *problem)
{
    return imageFrom(ui->comboBox_update_link->currentText(), &netserverFirmware, problem);
}

// The image in memory when there is one, else the file at `path` (`readOk` says how reading it
// went). Either way the image source holds it afterwards, so the record describes what is sent.
QByteArray MainWindow::imageFrom(const QString &path, const QByteArray *packet, QString *problem,
                                 bool *readOk)
{
    if (packet && !packet->isEmpty()) {
        // Bytes the source has not seen (a caller's own) are sent, but are no catalogue record.
        if (image->bytes().constData() != packet->constData())
            image->setBytes(*packet);
        return image->bytes();
    }
    if (image->origin() != ImageSource::Origin::File || image->path() != path)
        image->setFile(path);
    const bool read = image->load(problem);
    if (readOk)
        *readOk = read;
    return image->bytes();
}

TargetKind MainWindow::chosenTarget() const
{
    if (ui->radioButton_target_directModue->isChecked())
        return TargetKind::Module;
    if (ui->radioButton_target_gateway->isChecked())
        return TargetKind::Gateway;
    return TargetKind::DemoBoard;
}

void MainWindow::reportPortTrouble()
{
    // One line when the adapter is pulled out, however the port noticed it. A running
    // update names the loss itself, as the reason it ends.
    connect(&serialPort->channel(), &SerialChannel::portLost, this, [this](const QString &reason) {
        if (!updateSession->isRunning())
            logDisplay->set(QStringLiteral("serial port lost: ") + reason);
    });
    connect(&serialPort->channel(), &SerialChannel::openFailed, logDisplay.get(), &LogDisplay::set);
    connect(serialPort, &mySerialPort::settingsNotSaved, logDisplay.get(), &LogDisplay::set);
    connect(serialPort, &mySerialPort::portNotFound, logDisplay.get(), &LogDisplay::set);
    connect(accountLogin.get(), &AccountLogin::settingsNotSaved, logDisplay.get(), &LogDisplay::set);
    accountLogin->setRequestHold([this] { return cloudWaitsForUpdate(); });
}

void MainWindow::restoreTitle()
{
    // The working directory's files first, as the form's icon does, then the installed ones.
    const QString folder =
        QFileInfo(PlatformPaths::shippedFile(SettingsKeys::projectConfFileName)).absolutePath();
    lastReadOk = nativeFile->readItem(folder, SettingsKeys::projectConfFileName, SettingsKeys::appTitle,
                                      &lastReadText);
    MAIN_TRACE_AS(lcApp, "MainWindow") << (lastReadOk ? "true" : "false") << folder << lastReadText;
    if (lastReadOk)
        setWindowTitle(lastReadText == QString::fromUtf8(kShippedTitle) ? tr(kShippedTitle) : lastReadText);
    lastReadOk = nativeFile->readItem(folder, SettingsKeys::projectConfFileName, SettingsKeys::updateInfor,
                                      &lastReadText);
    setWindowIcon(QIcon(PlatformPaths::shippedFile(QStringLiteral("app.ico"))));
}

void MainWindow::restoreLastFirmware()
{
    lastReadOk = nativeFile->readItem(SettingsKeys::filePathFirmware, &lastReadText);
    MAIN_TRACE_AS(lcApp, "MainWindow")
        << (lastReadOk ? "true" : "false") << "---------------" << lastReadText;
    if (!lastReadOk)
        return;
    ui->comboBox_update_link->setEditText(lastReadText);
    // Only the file system's facts: the remembered path may name a FIFO or a device by now.
    lastReadOk = image->setFile(lastReadText);
    MAIN_TRACE_AS(lcApp, "MainWindow")
        << (lastReadOk ? "true" : "false") << "---------------" << image->facts().size;
    if (!lastReadOk)
        startupNotes << QStringLiteral("remembered firmware %1 is not a readable file").arg(lastReadText);
}

// The facts describe the image to send, a cloud image included; none when it has none.
void MainWindow::showImageFacts()
{
    const ImageSource::Facts &facts = image->facts();
    const bool known = facts.size >= 0;
    ui->lineEdit__firmware_length->setText(known ? QString::number(facts.size) : QString());
    ui->lineEdit_firmware_name->setText(facts.name);
    ui->lineEdit__firmware_make_time->setText(facts.createdTime);
    ui->lineEdit__firmware_editer->setText(facts.owner);
    if (updateLink)
        refreshUpdateEstimate();
}

void MainWindow::setUpFirmwareTable()
{
    ui->tableWidget->resizeColumnToContents(2);
    ui->tableWidget->setWordWrap(true);
    ui->tableWidget->setColumnWidth(0, 50);
    ui->tableWidget->setColumnWidth(1, 440);
    ui->progressBar_upadate_progress->reset();
}

void MainWindow::setTargetToolTips()
{
    ui->radioButton_target_directModue->setToolTip(tr("发送hex命令"));
    ui->radioButton_target_demoBoard->setToolTip(tr("不发送任何命令，等待升级请求"));
    ui->radioButton_target_gateway->setToolTip(tr("发送json命令"));
}

void MainWindow::showAboutTexts()
{
    ui->label_appVersion->setText(appVersion());
    ui->label_appEditer->setText(appEditor());
    ui->label_appowder->setText(appOwner());
}

void MainWindow::createSerialWorker()
{
    serialPort = new mySerialPort(this);
}

void MainWindow::createAccountButton()
{
    accountLogin = std::make_unique<AccountLogin>();
}

void MainWindow::buildTopStrip()
{
    auto *strip = new QHBoxLayout(ui->widget_4);
    strip->addWidget(serialPort, 0);
    brokerIndicator = new BrokerIndicator(ui->widget_4);
    strip->addWidget(brokerIndicator, 0);
    strip->addWidget(accountLogin->pushButton_account, 0);
}

void MainWindow::createLogConsole()
{
    // Lives as long as the window; unparented, as a window class of its own. Its page belongs
    // to the tab.
    logDisplay = std::make_unique<LogDisplay>();
    ui->tabWidget->insertTab(1, logDisplay->takePage(), tr("日志"));
    for (const QString &note : qAsConst(startupNotes))
        logDisplay->set(note);
    startupNotes.clear();
}

void MainWindow::createMqttWindow()
{
    mqttConfig = std::make_unique<MyMqttConfig>();
    const auto console = [this](const QString &text) { logDisplay->set(text); };
    mqttConfig->setConsole(console);
    connect(mqttConfig.get(), &MyMqttConfig::brokerStateChanged, brokerIndicator,
            &BrokerIndicator::showState);
    brokerIndicator->showState(mqttConfig->m_client->state(), QString());
}

void MainWindow::buildMenuBar()
{
    QMenu *fileMenu = menuBar()->addMenu(tr("文件"));
    fileMenu->addAction(QStringLiteral("---"));
    fileMenu->addAction(QStringLiteral("---"));
    QMenu *paramMenu = menuBar()->addMenu(tr("参数设置"));
    QAction *mqttParams = paramMenu->addAction(tr("mqtt参数"));
    mqttParams->setObjectName(QStringLiteral("action_mqttParams"));
    connect(mqttParams, &QAction::triggered, this, [this] {
        TRACE(lcApp) << "action_mqttParams";
        mqttConfig->settingsWindow->show();
    });
    QAction *historySettings = paramMenu->addAction(tr("历史记录"));
    historySettings->setObjectName(QStringLiteral("action_historySettings"));
    connect(historySettings, &QAction::triggered, this, [this] {
        HistorySettingsDialog dialog(*history, this);
        dialog.exec();
    });
    QAction *debugTrace = paramMenu->addAction(tr("调试跟踪"));
    debugTrace->setObjectName(QStringLiteral("action_debugTrace"));
    debugTrace->setCheckable(true);
    connect(debugTrace, &QAction::toggled, this, [](bool on) { DebugTrace::setTraceOn(on); });
    buildLanguageMenu(paramMenu);
}

void MainWindow::buildLanguageMenu(QMenu *parent)
{
    QMenu *menu = parent->addMenu(tr("语言 / Language"));
    auto *group = new QActionGroup(menu);
    const std::pair<WindowLanguage::Language, QString> choices[] = {
        {WindowLanguage::Language::Chinese, tr("中文")},
        {WindowLanguage::Language::English, tr("English")},
    };
    for (const auto &[language, text] : choices) {
        QAction *action = menu->addAction(text);
        action->setObjectName(QStringLiteral("action_language_") + WindowLanguage::code(language));
        action->setCheckable(true);
        action->setChecked(language == WindowLanguage::installed());
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, language = language] { chooseLanguage(language); });
    }
}

// Every window builds its texts once, many of them in code: the new language shows from the next
// start on, which the user is told.
void MainWindow::chooseLanguage(WindowLanguage::Language language)
{
    QString why;
    if (!WindowLanguage::remember(language, &why)) {
        logDisplay->set(QStringLiteral("the language choice was not saved: ") + why);
        return;
    }
    if (language == WindowLanguage::installed())
        return;
    auto *box = new QMessageBox(QMessageBox::Information, tr("提示"), tr("界面语言将在下次启动时切换。"),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("messageBox_languageNextStart"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void MainWindow::initialize_mainTimer(int timeout_ms)
{
    mainTimer = new QTimer(this);
    connect(mainTimer, SIGNAL(timeout()), this, SLOT(mainTimerCallback()));
    mainTimer->start(timeout_ms);
}

void MainWindow::mainTimeout_restart()
{
    mainTimer->start();
}

void MainWindow::mainTimeout_stop()
{
    mainTimer->stop();
}

void MainWindow::mainTimerCallback()
{
    // The timer has no work after its first tick; left running it would wake the idle
    // window every millisecond.
    mainTimer->stop();
    if (startMessageShown)
        return;
    startMessageShown = true;
    auto *startMessage = new appStartMessage(nullptr);
    startMessage->setAttribute(Qt::WA_DeleteOnClose);
    startMessage->show();
}

void MainWindow::uart_bondDeviceSerialPort_controls()
{
    connect(ui->pushButton_update_openFile, SIGNAL(clicked()), this, SLOT(deviceSerialPort_click()));
    connect(ui->pushButton_update_start, SIGNAL(clicked()), this, SLOT(deviceSerialPort_click()));
}

void MainWindow::postToastDisplay(QString title, QString content)
{
    QMessageBox box(QMessageBox::Critical, title, content, QMessageBox::Ok, this);
    box.setDefaultButton(static_cast<QPushButton *>(nullptr));
    box.exec();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!userLetsUpdateEnd()) {
        event->ignore();
        return;
    }
    // A session waits inside a slot; without this, closing the window would leave it
    // running unseen until its device gave up.
    windowClosing = true;
    if (updateSession)
        updateSession->requestAbort({UpdateFailure::Kind::StoppedByUser, QStringLiteral("update aborted")});
    if (batchUpdatePage)
        batchUpdatePage->stop();
    if (stationView)
        stationView->stop();
    closeOtherWindows();
    QMainWindow::closeEvent(event);
}

// Closing ends every update under way and leaves its devices without a whole firmware: the user
// says so first.
bool MainWindow::userLetsUpdateEnd()
{
    const bool single = updateSession && updateSession->isRunning();
    const bool station = stationView && stationView->isRunning();
    if (!single && !station && !(batchUpdatePage && batchUpdatePage->isRunning()))
        return true;
    QMessageBox question(
        QMessageBox::Question, tr("提示"),
        single ? tr("固件更新正在进行。关闭窗口会中止更新，设备中的固件可能不完整。\n确定关闭吗？")
        : station
            ? tr("量产正在进行。关闭窗口会中止各工位的更新，设备中的固件可能不完整。\n确定关闭吗？")
            : tr("批量更新正在进行。关闭窗口会中止所有网关的更新，它们的固件可能不完整。\n确定关闭吗？"),
        QMessageBox::Yes | QMessageBox::No, this);
    question.setObjectName(QStringLiteral("messageBox_closeDuringUpdate"));
    question.setDefaultButton(QMessageBox::No);
    return question.exec() == QMessageBox::Yes;
}

// The start page, the MQTT settings and the account windows have no parent: one left open would
// keep the event loop, and so the process, running after the user closed the tool.
void MainWindow::closeOtherWindows()
{
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window != this && window->isVisible())
            window->close();
    }
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    Q_UNUSED(event)
    MAIN_TRACE(lcApp) << "mouseMoveEvent" << mouseMoveCount;
    ++mouseMoveCount;
}

// Kept for callers that invoke them through the meta-object system; they do nothing.
void MainWindow::displayConsole(QString arg)
{
    Q_UNUSED(arg)
}

void MainWindow::updateSerialData(bool tend, QString str)
{
    Q_UNUSED(tend)
    Q_UNUSED(str)
}

void MainWindow::updateUartRecvByteCounter(uint32_t cnt)
{
    Q_UNUSED(cnt)
}

void MainWindow::updateUartSendByteCounter(uint32_t cnt)
{
    Q_UNUSED(cnt)
}

void MainWindow::uart_initialize() {}
void MainWindow::updateUartPortList() {}
void MainWindow::mySocketUDP_receive() {}
void MainWindow::server_New_Connect() {}
void MainWindow::mySocketTcpSever_close() {}
void MainWindow::tcpSocket_disconnected() {}
void MainWindow::updateLocalIntIpList() {}
void MainWindow::socket_Read_Data() {}

void MainWindow::startRequest(QUrl requestedUrl)
{
    Q_UNUSED(requestedUrl)
}

void MainWindow::httpReadyRead() {}
