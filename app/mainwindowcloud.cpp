// The main window's cloud pages: the firmware catalogue (list, filter, download into
// netserverFirmware) and the self-update (newest version at start-up, upgrade). Each action makes
// its own request helper, which its chain of requests shares: one kept for the whole run would
// keep the network's bearer management looking at the interfaces while the window is idle.
#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/accountlogin.h"
#include "app/console/logdisplay.h"
#include "cloud/cloudconfig.h"
#include "cloud/cloudenvelope.h"
#include "cloud/cloudservice.h"
#include "cloud/downloadcheck.h"
#include "cloud/myhttp.h"
#include "cloud/myjson.h"
#include "cloud/requestbudget.h"
#include "cloud/selfupdate.h"
#include "core/debugtrace.h"
#include "storage/imagesource.h"
#include "storage/nativefile.h"
#include "storage/settingskeys.h"
#include "update/updatesession.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

namespace {

// User input waits while the start-up requests run; together they give up after this long.
constexpr qint64 kStartupRequestsMs = 5000;

const QString idMember = QStringLiteral("id");
const QString nameMember = QStringLiteral("originFileName");
const QString descriptionMember = QStringLiteral("infor");

} // namespace

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (startupRequestsScheduled)
        return;
    startupRequestsScheduled = true;
    // Queued, so that the window is on screen before a slow service can hold it up.
    QTimer::singleShot(0, this, &MainWindow::runStartupRequests);
}

// The version query, then the remembered login: right after the window is first shown, so that
// a slow or silent service never keeps the window from appearing, and within a few seconds in
// all, so that it never keeps the user waiting long.
void MainWindow::runStartupRequests()
{
    if (CloudConfig::serviceUrl().isEmpty())
        return;
    const RequestBudget budget(kStartupRequestsMs);
    // One helper for the chain: the login may reuse the version query's connection.
    MyHttp http;
    CloudService service(http);
    const HttpResult version = service.newestAppVersion();
    if (version.ok)
        takeVersionReply(version.body);
    else
        logDisplay->set(QStringLiteral("start-up version query given up: ") + version.error);
    const QString loginProblem = accountLogin->runAutomaticLogin(service);
    if (!loginProblem.isEmpty())
        logDisplay->set(QStringLiteral("remembered login given up: ") + loginProblem);
}

// The newest build's size as its record gives it, -1 when it gives no usable one.
qint64 MainWindow::takeVersionReply(const QByteArray &body)
{
    qint64 buildLength = -1;
    QJsonObject reply;
    const bool parsed = MyJson::paser(&reply, body);
    if (parsed)
        MAIN_TRACE_AS(lcCloud, "issueVersionQuery") << "file_infor/get getParams_json" << reply;
    QJsonObject record;
    if (parsed && SelfUpdate::newestRecord(reply, &record)) {
        MAIN_TRACE_AS(lcCloud, "issueVersionQuery") << "file_infor/get message" << record;
        buildLength = FirmwareCatalogue::usableLength(record, UpdateSession::kMaxImageBytes);
        const QJsonValue newest = record.value(QStringLiteral("appVersion"));
        if (newest.isString()) {
            ui->label_newAppVersion->setText(newest.toString());
            if (SelfUpdate::isNewer(newest.toString(), appVersion()))
                showNewVersionDot();
        }
    }
    MAIN_TRACE_AS(lcCloud, "operator()") << "getParams " << body;
    return buildLength;
}

void MainWindow::showNewVersionDot()
{
    ui->label_14->setMaximumSize(20, 20);
    ui->label_14->setPixmap(QPixmap(QStringLiteral("://image/reddot.png")));
    ui->label_14->setScaledContents(true);
    ui->label_14->show();
}

// A request waits in place; inside an update's wait it would hold the device's answers back,
// and an upgrade would end the tool in the middle of the update.
bool MainWindow::cloudWaitsForUpdate()
{
    if (!updateSession || !updateSession->isRunning())
        return false;
    logDisplay->set(QStringLiteral("the cloud service can be used again when the update has ended"));
    return true;
}

// The build's length, which the download must have, comes from a version query of its own: the
// start-up one may have failed, and the service may hold another build by now.
qint64 MainWindow::queryNewestBuildLength(CloudService &service, QString *error)
{
    const HttpResult version = service.newestAppVersion();
    *error = version.error;
    const qint64 length = version.ok ? takeVersionReply(version.body) : -1;
    if (error->isEmpty() && length < 0)
        *error = QStringLiteral("the version query names no build of a usable length");
    return length;
}

void MainWindow::on_pushButton_2_clicked()
{
    if (cloudWaitsForUpdate())
        return;
    MyHttp http;
    CloudService service(http);
    QString error;
    const qint64 length = queryNewestBuildLength(service, &error);
    if (error.isEmpty()) {
        const HttpResult build = service.appDownload(length);
        if (build.ok)
            takeAppBuild(build.body, length);
        error = build.error;
    }
    if (!error.isEmpty())
        logDisplay->set(QStringLiteral("new version download failed: ") + error);
}

void MainWindow::takeAppBuild(const QByteArray &build, qint64 length)
{
    // The build never goes into netserverFirmware: the next update would send it to the device.
    MAIN_TRACE_AS(lcCloud, "on_pushButton_2_clicked") << "getParams.length()" << build.size();
    const QString problem =
        SelfUpdate::handOver(build, QDir::currentPath(), QCoreApplication::applicationFilePath(), length);
    if (!problem.isEmpty()) {
        logDisplay->set(QStringLiteral("new version not installed: ") + problem);
        return;
    }
    QCoreApplication::exit(0);
}

void MainWindow::on_pushButton_clicked()
{
    if (cloudWaitsForUpdate())
        return;
    const QString account = accountLogin->loggedInAccount;
    const bool written = nativeFile->writeItem(SettingsKeys::getFirmwareAccount, account);
    MAIN_TRACE(lcCloud) << (written ? "true" : "false");
    http_get_firmware_infor(ui.get(), account);
}

void MainWindow::http_get_firmware_infor(Ui::MainWindow *form, QString account)
{
    form->tableWidget->clearContents();
    catalogue.clearAll();
    if (account.isEmpty()) {
        AccountLogin::notice(tr("请先登录或加载本地固件"));
        return;
    }
    MyHttp http;
    const HttpResult list = CloudService(http).firmwareList(account);
    if (list.ok)
        takeFirmwareList(list.body);
    else
        reportCatalogueFailure(list.error);
}

void MainWindow::takeFirmwareList(const QByteArray &body)
{
    QJsonObject reply;
    if (!MyJson::paser(&reply, body)) {
        reportCatalogueFailure(QStringLiteral("the catalogue reply is not JSON"));
        return;
    }
    MAIN_TRACE_AS(lcCloud, "http_get_firmware_infor") << "http_get_firmware_infor getParams_json" << reply;
    if (!catalogue.takeReply(reply)) {
        reportCatalogueFailure(QStringLiteral("the catalogue reply is no success: ") +
                               CloudEnvelope::describe(reply));
        return;
    }
    showCatalogueRecords(catalogue.all());
}

// The user is on the catalogue page, not the log: the box says it where they look.
void MainWindow::reportCatalogueFailure(const QString &reason)
{
    logDisplay->set(QStringLiteral("firmware list failed: ") + reason);
    AccountLogin::notice(tr("获取固件失败\r\n") + reason);
}

void MainWindow::on_lineEdit_filter_text_textChanged(QString arg1)
{
    catalogue.filter(arg1);
    ui->tableWidget->clearContents();
    showCatalogueRecords(catalogue.shown());
}

// The description always goes under "说明": the filter only chooses rows, never columns, and no
// record field belongs under "MCU型号".
void MainWindow::showCatalogueRecords(const QList<QJsonObject> &records)
{
    QTableWidget *table = ui->tableWidget;
    table->setRowCount(records.size());
    for (int row = 0; row < records.size(); ++row) {
        const QJsonObject &record = records.at(row);
        const QString texts[] = {FirmwareCatalogue::numberText(record, idMember),
                                 FirmwareCatalogue::stringText(record, nameMember),
                                 FirmwareCatalogue::stringText(record, descriptionMember)};
        const int columns[] = {0, 1, 3};
        for (int i = 0; i < 3; ++i) {
            if (!texts[i].isEmpty())
                table->setItem(row, columns[i], new QTableWidgetItem(texts[i]));
        }
    }
    table->resizeRowsToContents();
}

void MainWindow::on_tableWidget_cellClicked(int row, int column)
{
    if (cloudWaitsForUpdate())
        return;
    const QTableWidgetItem *item = ui->tableWidget->item(row, 0);
    if (!item || item->text().isEmpty() || row >= catalogue.shown().size())
        return;
    const QString id = item->text();
    const QJsonObject record = catalogue.shown().at(row);
    MAIN_TRACE(lcCloud) << "getFirmwareInforListTemp.length()" << catalogue.shown().size() << column;
    MAIN_TRACE(lcCloud) << "itemJson" << record;
    downloadRecord(id, record);
}

// The facts and the path box change only with the image that "开始更新" sends: a download that is
// not taken leaves them describing the previous one.
void MainWindow::showCloudImage(const QString &id, const QJsonObject &record)
{
    ImageSource::Facts facts;
    facts.name = record.value(nameMember).toString();
    facts.createdTime = record.value(QStringLiteral("createTime")).toString();
    facts.owner = record.value(QStringLiteral("owner")).toString();
    image->setCloudRecord(id, netserverFirmware, facts);
    const QString source = tr("云端固件：%1（序号 %2）").arg(record.value(nameMember).toString(), id);
    ui->comboBox_update_link->setEditText(source);
    ui->comboBox_update_link->setToolTip(source);
}

// Reads no more than the record's usable length, or the image limit when it gives none.
void MainWindow::downloadRecord(const QString &id, const QJsonObject &record)
{
    const qint64 length = FirmwareCatalogue::usableLength(record, UpdateSession::kMaxImageBytes);
    MyHttp http;
    const HttpResult download =
        CloudService(http).firmwareDownload(id, length < 0 ? UpdateSession::kMaxImageBytes : length);
    if (!download.ok)
        logDisplay->set(QStringLiteral("netserver firmware download failed, previous image kept: ") +
                        download.error);
    else if (takeFirmwareDownload(length, download.body))
        showCloudImage(id, record);
}

// `length` is the record's usable length, -1 when it gives none: then nothing tells a download
// cut short from a whole one, and the console says so. True when the image was taken.
bool MainWindow::takeFirmwareDownload(qint64 length, const QByteArray &body)
{
    const QString problem = DownloadCheck::problem(body, length);
    if (!problem.isEmpty()) {
        logDisplay->set(QStringLiteral("netserver firmware not taken, previous image kept: ") + problem);
        return false;
    }
    if (length < 0)
        logDisplay->set(
            QStringLiteral("warning: the record gives no usable length, so the %1 bytes downloaded "
                           "cannot be known to be the whole image")
                .arg(body.size()));
    netserverFirmware = body;
    MAIN_TRACE_AS(lcCloud, "on_tableWidget_cellClicked") << "getParams.length()" << netserverFirmware.size();
    return true;
}

void MainWindow::on_tableWidget_cellDoubleClicked(int row, int column)
{
    MAIN_TRACE(lcCloud) << row << column;
}
