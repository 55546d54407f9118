// The main window's cloud pages: the firmware catalogue (list, filter, download into
// netserverFirmware) and the self-update (newest version at start-up, upgrade).
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "accountlogin.h"
#include "cloudservice.h"
#include "console/logdisplay.h"
#include "debugtrace.h"
#include "downloadcheck.h"
#include "myhttp.h"
#include "myjson.h"
#include "nativefile.h"
#include "selfupdate.h"
#include "settingskeys.h"
#include "updatesession.h"

#include <QCoreApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>

namespace {

// The request helper and the parse result the window's pages share.
MyHttp &windowHttp()
{
    static MyHttp http;
    return http;
}

QJsonObject &sharedReply()
{
    static QJsonObject reply;
    return reply;
}

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
// a slow or silent service never keeps the window from appearing.
void MainWindow::runStartupRequests()
{
    CloudService(windowHttp()).newestAppVersion(ui, [this](void *, const QByteArray *body, void *, void *) {
        takeVersionReply(body);
    });
    accountLogin->runAutomaticLogin();
}

void MainWindow::takeVersionReply(const QByteArray *body)
{
    if (!body)
        return;
    const bool parsed = MyJson::paser(&sharedReply(), *body);
    if (parsed)
        MAIN_TRACE_AS("issueVersionQuery") << "file_infor/get getParams_json" << sharedReply();
    QJsonObject record;
    if (parsed && SelfUpdate::newestRecord(sharedReply(), &record)) {
        MAIN_TRACE_AS("issueVersionQuery") << "file_infor/get message" << record;
        newestBuildLength = FirmwareCatalogue::expectedLength(record);
        const QJsonValue newest = record.value(QStringLiteral("appVersion"));
        if (newest.isString()) {
            ui->label_newAppVersion->setText(newest.toString());
            if (SelfUpdate::isNewer(newest.toString(), appVersion()))
                showNewVersionDot();
        }
    }
    MAIN_TRACE_AS("operator()") << "getParams " << *body;
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

void MainWindow::on_pushButton_2_clicked()
{
    if (cloudWaitsForUpdate())
        return;
    QString error;
    CloudService(windowHttp())
        .appDownload(
            ui, [this](void *, const QByteArray *body, void *, void *) { takeAppBuild(body); }, &error);
    if (!error.isEmpty())
        logDisplay->set(QStringLiteral("new version download failed: ") + error);
}

void MainWindow::takeAppBuild(const QByteArray *body)
{
    if (!body)
        return;
    // The build never goes into netserverFirmware: the next update would send it to the device.
    MAIN_TRACE_AS("on_pushButton_2_clicked") << "getParams.length()" << body->size();
    const QString problem = SelfUpdate::handOver(*body, QDir::currentPath(),
                                                 QCoreApplication::applicationFilePath(), newestBuildLength);
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
    MAIN_TRACE() << (written ? "true" : "false");
    http_get_firmware_infor(ui, account);
}

void MainWindow::http_get_firmware_infor(Ui::MainWindow *form, QString account)
{
    form->tableWidget->clearContents();
    catalogue.clearAll();
    if (account.isEmpty()) {
        AccountLogin::notice(QStringLiteral("请先登录或加载本地固件"));
        return;
    }
    CloudService(windowHttp())
        .firmwareList(form, account,
                      [this](void *, const QByteArray *body, void *, void *) { takeFirmwareList(body); });
}

void MainWindow::takeFirmwareList(const QByteArray *body)
{
    if (!body || !MyJson::paser(&sharedReply(), *body))
        return;
    MAIN_TRACE_AS("http_get_firmware_infor") << "http_get_firmware_infor getParams_json" << sharedReply();
    if (!catalogue.takeReply(sharedReply()))
        return;
    showCatalogueRecords(catalogue.all(), 3);
}

void MainWindow::on_lineEdit_filter_text_textChanged(QString arg1)
{
    catalogue.filter(arg1);
    ui->tableWidget->clearContents();
    showCatalogueRecords(catalogue.shown(), 2);
}

void MainWindow::showCatalogueRecords(const QList<QJsonObject> &records, int descriptionColumn)
{
    QTableWidget *table = ui->tableWidget;
    table->setRowCount(records.size());
    for (int row = 0; row < records.size(); ++row) {
        const QJsonObject &record = records.at(row);
        const QString texts[] = {FirmwareCatalogue::numberText(record, idMember),
                                 FirmwareCatalogue::stringText(record, nameMember),
                                 FirmwareCatalogue::stringText(record, descriptionMember)};
        const int columns[] = {0, 1, descriptionColumn};
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
    MAIN_TRACE() << "getFirmwareInforListTemp.length()" << catalogue.shown().size() << column;
    MAIN_TRACE() << "itemJson" << record;
    const QString length = FirmwareCatalogue::numberText(record, QStringLiteral("length"));
    ui->lineEdit__firmware_length->setText(length.isEmpty() ? QStringLiteral("0") : length);
    ui->lineEdit_firmware_name->setText(record.value(nameMember).toString());
    ui->lineEdit__firmware_make_time->setText(record.value(QStringLiteral("createTime")).toString());
    ui->lineEdit__firmware_editer->setText(record.value(QStringLiteral("owner")).toString());
    QString error;
    CloudService(windowHttp())
        .firmwareDownload(
            ui, id,
            [this, record](void *, const QByteArray *body, void *, void *) {
                takeFirmwareDownload(record, body);
            },
            &error);
    if (!error.isEmpty())
        logDisplay->set(QStringLiteral("netserver firmware download failed, previous image kept: ") + error);
}

void MainWindow::takeFirmwareDownload(const QJsonObject &record, const QByteArray *body)
{
    if (!body)
        return;
    const QString problem = DownloadCheck::problem(*body, FirmwareCatalogue::expectedLength(record));
    if (!problem.isEmpty()) {
        logDisplay->set(QStringLiteral("netserver firmware not taken, previous image kept: ") + problem);
        return;
    }
    netserverFirmware = *body;
    refreshUpdateEstimate();
    MAIN_TRACE_AS("on_tableWidget_cellClicked") << "getParams.length()" << netserverFirmware.size();
}

void MainWindow::on_tableWidget_cellDoubleClicked(int row, int column)
{
    MAIN_TRACE() << row << column;
}
