#pragma once

#include "app/windowlanguage.h"
#include "cloud/firmwarecatalogue.h"
#include "core/appversion.h"
#include "history/updaterecord.h"
#include "protocol/targetkind.h"

#include <QByteArray>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class AccountLogin;
class BatchUpdatePage;
class BrokerIndicator;
class CloudService;
class HistoryPage;
class ImageSource;
class LogDisplay;
class MyMqttConfig;
class StationPage;
class NativeFile;
enum class UpdateOutcome;
class QColor;
class QMenu;
class QTimer;
class mySerialPort;
class UpdateLink;
class UpdateSession;
class WindowHistory;
class WindowUpdateLink;
class WindowUpdateReporter;

namespace Ui {
class MainWindow;
}

// The composition root: builds the form, restores the last session's choices, owns every
// long-lived object and offers the update engine's operations as slots. The slots are thin:
// the update itself runs in UpdateSession, which knows nothing of widgets.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    static QString appVersion() { return QStringLiteral(PLOVIKKIT_VERSION); }
    static QString appEditor() { return QStringLiteral("ormund"); }
    static QString appOwner() { return QStringLiteral("plovik"); }

    Ui::MainWindow *form() const { return ui.get(); }
    LogDisplay *console() const { return logDisplay.get(); }
    mySerialPort *serialWorker() const { return serialPort; }
    NativeFile *settingsStore() const { return nativeFile; }
    QTimer *mainTimerObject() const { return mainTimer; }
    QByteArray &downloadedFirmware() { return netserverFirmware; }
    // The image the next update sends; the form's facts and the estimate follow it.
    ImageSource *imageSource() const { return image; }
    UpdateSession *session() const { return updateSession.get(); }
    bool startMessageWasShown() const { return startMessageShown; }
    AccountLogin *account() const { return accountLogin.get(); }
    MyMqttConfig *mqttWindow() const { return mqttConfig.get(); }
    WindowUpdateLink *windowLink() const { return updateLink.get(); }
    BatchUpdatePage *batchPage() const { return batchUpdatePage.get(); }
    WindowHistory *updateHistory() const { return history.get(); }
    HistoryPage *historyPage() const { return historyView.get(); }
    StationPage *stationPage() const { return stationView.get(); }

    // Opens no larger than the screen's free area, with room for a title bar.
    void fitToScreen(const QRect &freeArea);

    QString lastReadText;
    bool lastReadOk = false;

public slots:
    void initialize_mainTimer(int timeout_ms);
    void mainTimeout_restart();
    void mainTimeout_stop();
    void mainTimerCallback();
    void uart_bondDeviceSerialPort_controls();

    // Update engine.
    void sendFirmwarePacket(QString path, QByteArray *packet);
    void firmwarePacketWrite(const char *data, qlonglong len);
    QByteArray waitRecvData(int timeout_ms);
    void Delay_MSec(uint msec);
    int checkRc();
    void myThreadRun();
    void sendBootCmd();
    void decodeBootCmd(QByteArray src);
    uint32_t hexStr2Int32(QString text);
    void deviceSerialPort_click();

    void postToastDisplay(QString title, QString content);

    // Firmware catalogue and self-update: connected by name from the form.
    void on_tableWidget_cellDoubleClicked(int row, int column);
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();
    void on_lineEdit_filter_text_textChanged(QString arg1);
    void on_tableWidget_cellClicked(int row, int column);
    void http_get_firmware_infor(Ui::MainWindow *form, QString account);

    // Declared for compatibility with scripts that invoke them by name; they do nothing.
    void displayConsole(QString arg);
    void updateSerialData(bool tend, QString str);
    void updateUartRecvByteCounter(uint32_t cnt);
    void updateUartSendByteCounter(uint32_t cnt);
    void uart_initialize();
    void updateUartPortList();
    void mySocketUDP_receive();
    void server_New_Connect();
    void mySocketTcpSever_close();
    void tcpSocket_disconnected();
    void updateLocalIntIpList();
    void socket_Read_Data();
    void startRequest(QUrl requestedUrl);
    void httpReadyRead();

protected:
    void mouseMoveEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void restoreTitle();
    void restoreLastFirmware();
    void showImageFacts();
    bool showLocalFileFacts(const QString &path);
    void takeTypedPath(const QString &path);
    void connectUpdatePage();
    void showUpdateRunning();
    void showUpdateOutcome(UpdateOutcome outcome);
    QString updateFailureText(UpdateOutcome outcome, int reachedPercent) const;
    void setUpdateStatus(const QString &text, const QColor &colour);
    static QString stoppedByUser() { return QStringLiteral("stopped by the user"); }
    bool userLetsUpdateEnd();
    void refreshUpdateEstimate();
    void setUpFirmwareTable();
    void setTargetToolTips();
    void showAboutTexts();
    void createSerialWorker();
    void createAccountButton();
    void buildTopStrip();
    void createLogConsole();
    void createMqttWindow();
    void buildMenuBar();
    void buildLanguageMenu(QMenu *parent);
    void chooseLanguage(WindowLanguage::Language language);
    void openFirmwareFile();
    void startUpdate();
    void consoleReturnCode(const QByteArray &frame);
    void reportPortTrouble();
    void createUpdateEngine();
    void createBatchPage();
    void createHistory();
    void createHistoryPage();
    bool noUpdateRunning(QString *problem) const;
    void createStationPage();
    UpdateRecord imageRecord(const QString &run) const;
    void beginWindowRecord();
    void completeWindowRecord(UpdateOutcome outcome);
    void sayLastUpdate(const QString &device);
    void closeOtherWindows();
    QByteArray imageToSend(QString *problem);
    QByteArray imageFrom(const QString &path, const QByteArray *packet, QString *problem,
                         bool *readOk = nullptr);
    void runLinkStep(std::initializer_list<void (UpdateLink::*)()> endSignals,
                     const std::function<void(QObject &, bool &)> &start);
    TargetKind chosenTarget() const;
    void runStartupRequests();
    qint64 takeVersionReply(const QByteArray &body);
    void showNewVersionDot();
    qint64 queryNewestBuildLength(CloudService &service, QString *error);
    void takeAppBuild(const QByteArray &build, qint64 length);
    bool cloudWaitsForUpdate();
    void takeFirmwareList(const QByteArray &body);
    void reportCatalogueFailure(const QString &reason);
    void showCatalogueRecords(const QList<QJsonObject> &records);
    void showCloudImage(const QString &id, const QJsonObject &record);
    void downloadRecord(const QString &id, const QJsonObject &record);
    bool takeFirmwareDownload(qint64 length, const QByteArray &body);

    // Ownership: the window's widgets and helpers belong to the widget tree (created with a
    // parent); the windows that live without a parent, and the update engine that refers to
    // them, are members, declared so that each goes before what it refers to.
    std::unique_ptr<Ui::MainWindow> ui;
    NativeFile *nativeFile = nullptr;
    mySerialPort *serialPort = nullptr;
    BrokerIndicator *brokerIndicator = nullptr;
    QTimer *mainTimer = nullptr;
    std::unique_ptr<LogDisplay> logDisplay;
    std::unique_ptr<AccountLogin> accountLogin;
    std::unique_ptr<MyMqttConfig> mqttConfig;
    std::unique_ptr<WindowUpdateLink> updateLink;
    std::unique_ptr<WindowUpdateReporter> updateReporter;
    std::unique_ptr<UpdateSession> updateSession;
    // Its console is the log's; the pages below read and write through it.
    std::unique_ptr<WindowHistory> history;
    // Shown in a tab, but its running sessions use the broker session: it goes first.
    std::unique_ptr<BatchUpdatePage> batchUpdatePage;
    // Shown in a tab; its model reads on the history's connection.
    std::unique_ptr<HistoryPage> historyView;
    // Shown in a tab; its slots record through the history: it goes first.
    std::unique_ptr<StationPage> stationView;
    // The record of the window's update under way.
    std::optional<UpdateRecord> windowRecord;
    QByteArray netserverFirmware;
    ImageSource *image = nullptr;
    QByteArray ackBuffer;
    // Said in the console once it exists.
    QStringList startupNotes;
    bool startMessageShown = false;
    int32_t mouseMoveCount = 0;
    FirmwareCatalogue catalogue;
    bool startupRequestsScheduled = false;
    // Set once the window is closing: the blocking slots stop waiting.
    bool windowClosing = false;
    // What the last device announced, for the estimated update time.
    int announcedSplitLen = 0;
    int announcedPacketLen = 0;
    // The size the form was drawn for, before any screen made it smaller.
    QSize formSize;
};
