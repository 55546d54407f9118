#include "app/batchupdatepage.h"
#include "ui_batchupdatepage.h"

#include "app/windowhistory.h"
#include "history/historyrecorder.h"
#include "links/brokersession.h"
#include "links/gatewayfleet.h"
#include "protocol/gatewaymessages.h"
#include "update/forwardingreporter.h"

#include <QCryptographicHash>
#include <QProgressBar>
#include <QUuid>

namespace {

enum Column
{
    GatewayColumn,
    StateColumn,
    ProgressColumn,
    TimeColumn,
    ResultColumn,
};

// The bar counts in tenths of a percent, so a row is redrawn at most a thousand times.
constexpr int kBarSteps = 1000;

QString timeText(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

QString stateText(FleetResult result)
{
    switch (result) {
    case FleetResult::Waiting:
        return BatchUpdatePage::tr("等待");
    case FleetResult::Running:
        return BatchUpdatePage::tr("更新中");
    case FleetResult::Success:
        return BatchUpdatePage::tr("成功");
    case FleetResult::Failed:
        return BatchUpdatePage::tr("失败");
    case FleetResult::Skipped:
        return BatchUpdatePage::tr("跳过");
    }
    return QString();
}

} // namespace

BatchUpdatePage::BatchUpdatePage(BrokerSession &session, Context context, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::BatchUpdatePage>()), session(session),
      context(std::move(context))
{
    ui->setupUi(this);
    ui->tableWidget_batch->setColumnWidth(GatewayColumn, 160);
    ui->tableWidget_batch->setColumnWidth(ProgressColumn, 200);
    connect(ui->pushButton_batch_add, &QPushButton::clicked, this, &BatchUpdatePage::onAddPressed);
    connect(ui->lineEdit_batch_gateway, &QLineEdit::returnPressed, this, &BatchUpdatePage::onAddPressed);
    connect(ui->pushButton_batch_load, &QPushButton::clicked, this, &BatchUpdatePage::loadKnownGateways);
    connect(ui->pushButton_batch_remove, &QPushButton::clicked, this, &BatchUpdatePage::removeUnticked);
    connect(ui->pushButton_batch_start, &QPushButton::clicked, this, &BatchUpdatePage::start);
    connect(ui->pushButton_batch_stop, &QPushButton::clicked, this, &BatchUpdatePage::stop);
}

// Sessions and links go before the rows they report to.
BatchUpdatePage::~BatchUpdatePage()
{
    fleet.reset();
}

bool BatchUpdatePage::isRunning() const
{
    return fleet && fleet->isRunning();
}

const FleetRunner &BatchUpdatePage::runner() const
{
    return fleet->runner();
}

bool BatchUpdatePage::addGateway(const QString &gatewayId)
{
    const QString problem = GatewayMessages::gatewayIdProblem(gatewayId);
    if (!problem.isEmpty()) {
        setStatus(problem, true);
        return false;
    }
    if (rowOfGateway(gatewayId) >= 0)
        return false;
    QTableWidget *table = ui->tableWidget_batch;
    const int row = table->rowCount();
    table->insertRow(row);
    auto *item = new QTableWidgetItem(gatewayId);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    table->setItem(row, GatewayColumn, item);
    auto *bar = new QProgressBar;
    bar->setRange(0, kBarSteps);
    bar->setValue(0);
    table->setCellWidget(row, ProgressColumn, bar);
    return true;
}

void BatchUpdatePage::onAddPressed()
{
    if (addGateway(ui->lineEdit_batch_gateway->text().trimmed()))
        ui->lineEdit_batch_gateway->clear();
}

void BatchUpdatePage::loadKnownGateways()
{
    for (const QString &gatewayId : context.knownGateways())
        addGateway(gatewayId);
}

void BatchUpdatePage::removeUnticked()
{
    if (isRunning())
        return;
    for (int row = ui->tableWidget_batch->rowCount() - 1; row >= 0; --row) {
        if (ui->tableWidget_batch->item(row, GatewayColumn)->checkState() != Qt::Checked)
            ui->tableWidget_batch->removeRow(row);
    }
}

QStringList BatchUpdatePage::tickedGateways() const
{
    QStringList gateways;
    for (int row = 0; row < ui->tableWidget_batch->rowCount(); ++row) {
        const QTableWidgetItem *item = ui->tableWidget_batch->item(row, GatewayColumn);
        if (item->checkState() == Qt::Checked)
            gateways << item->text();
    }
    return gateways;
}

int BatchUpdatePage::rowOfGateway(const QString &gatewayId) const
{
    for (int row = 0; row < ui->tableWidget_batch->rowCount(); ++row) {
        if (ui->tableWidget_batch->item(row, GatewayColumn)->text() == gatewayId)
            return row;
    }
    return -1;
}

QString BatchUpdatePage::startProblem(const QStringList &gateways, QByteArray *image) const
{
    QString problem;
    if (context.mayStart && !context.mayStart(&problem))
        return problem;
    if (gateways.isEmpty() && !retryingRun())
        return QStringLiteral("no gateway ticked");
    if (session.connection().state() != MqttConnection::Connected)
        return QStringLiteral("the MQTT broker is not connected");
    if (context.target() == TargetKind::Module)
        return QStringLiteral(
            "a module's boot commands need the serial port: choose the gateway or demo target");
    *image = context.image(&problem);
    return image->isEmpty() && problem.isEmpty() ? QStringLiteral("firmware packet is empty") : problem;
}

void BatchUpdatePage::start()
{
    if (isRunning())
        return;
    QStringList gateways = tickedGateways();
    QString problem = startProblem(gateways, &runImage);
    if (problem.isEmpty()) {
        runSha256 =
            QString::fromLatin1(QCryptographicHash::hash(runImage, QCryptographicHash::Sha256).toHex());
        if (retryingRun())
            problem = takeRunToRetry(&gateways);
    }
    if (!problem.isEmpty()) {
        setStatus(problem, true);
        return;
    }
    runGateways = gateways;
    runTarget = context.target();
    run = QUuid::createUuid().toString(QUuid::WithoutBraces);
    context.console(QStringLiteral("batch update run %1: %2 gateways").arg(run).arg(gateways.size()));
    prepareRows(gateways);
    startFleet();
}

bool BatchUpdatePage::retryingRun() const
{
    return !ui->lineEdit_batch_retryRun->text().trimmed().isEmpty();
}

// The gateways the run left without a success become the batch's, listed and ticked; a run made
// with another image is refused, since retrying it would mix two images in one rollout.
QString BatchUpdatePage::takeRunToRetry(QStringList *gateways)
{
    const QString retried = ui->lineEdit_batch_retryRun->text().trimmed();
    if (!context.history)
        return QStringLiteral("no update history to retry run %1 from").arg(retried);
    QString problem;
    const QStringList unfinished = context.history->unfinishedTargets(retried, runSha256, &problem);
    if (!problem.isEmpty())
        return problem;
    if (unfinished.isEmpty())
        return QStringLiteral("every gateway of run %1 succeeded").arg(retried);
    for (const QString &gatewayId : unfinished)
        addGateway(gatewayId);
    *gateways = unfinished;
    return QString();
}

void BatchUpdatePage::recordTries()
{
    if (!context.history)
        return;
    tryRecords = QVector<std::optional<UpdateRecord>>(runGateways.size());
    runRecord = context.newRecord(run);
    if (ui->checkBox_batch_skipDone->isChecked())
        fleet->runner().setStartGate([this](int index) {
            return context.history->doneReason(runGateways.at(index), runSha256,
                                               TargetKindText::name(runTarget));
        });
    connect(&fleet->runner(), &FleetRunner::tryStarted, this, &BatchUpdatePage::beginTryRecord);
    connect(&fleet->runner(), &FleetRunner::tryFinished, this, &BatchUpdatePage::completeTryRecord);
    connect(&fleet->runner(), &FleetRunner::targetFinished, this, &BatchUpdatePage::recordUntried);
    connect(&fleet->runner(), &FleetRunner::deviceAnnounced, this, &BatchUpdatePage::sayLastUpdate);
}

// The run's image as it was at the start, whatever the window has chosen since; an id and a
// start of its own.
UpdateRecord BatchUpdatePage::targetRecord(int index) const
{
    UpdateRecord record = runRecord;
    const UpdateRecord fresh = HistoryRecorder::newRecord(run);
    record.id = fresh.id;
    record.started = fresh.started;
    record.link = QStringLiteral("gateway");
    record.target = runGateways.at(index);
    record.gateway = record.target;
    record.targetKind = TargetKindText::name(runTarget);
    return record;
}

void BatchUpdatePage::beginTryRecord(int index)
{
    const UpdateRecord record = targetRecord(index);
    context.history->begin(record);
    tryRecords[index] = record;
}

void BatchUpdatePage::completeTryRecord(int index, bool retrying)
{
    if (!tryRecords.at(index))
        return;
    UpdateRecord record = *tryRecords.at(index);
    tryRecords[index].reset();
    const UpdateFailure &failure = fleet->runner().failure(index);
    const FleetResult result = retrying || failure.isFailure() ? FleetResult::Failed : FleetResult::Success;
    WindowHistory::endRecord(&record, result, failure, fleet->runner().stats(index),
                             record.started.msecsTo(QDateTime::currentDateTimeUtc()));
    context.history->complete(record);
}

// A gateway that never started (already done, held back, stopped first) has a record too.
void BatchUpdatePage::recordUntried(int index)
{
    if (fleet->runner().tries(index) > 0)
        return;
    UpdateRecord record = targetRecord(index);
    WindowHistory::endRecord(&record, fleet->runner().result(index), fleet->runner().failure(index),
                             UpdateStats(), 0);
    context.history->complete(record);
}

void BatchUpdatePage::sayLastUpdate(int index, const QString &device)
{
    const QString line = context.history->lastUpdateLine(device);
    if (!line.isEmpty())
        context.console(QLatin1Char('[') + runGateways.at(index) + QStringLiteral("] ") + line);
}

void BatchUpdatePage::prepareRows(const QStringList &gateways)
{
    rows.clear();
    for (const QString &gatewayId : gateways) {
        const int row = rowOfGateway(gatewayId);
        rows << row;
        setCell(row, StateColumn, stateText(FleetResult::Waiting));
        setCell(row, TimeColumn, QString());
        setCell(row, ResultColumn, QString());
        progressBar(row)->setValue(0);
    }
}

// The fleet subscribes the gateways and starts them once the broker has granted them.
void BatchUpdatePage::startFleet()
{
    fleet.reset();
    reporters.clear();
    for (int i = 0; i < runGateways.size(); ++i)
        reporters.push_back(std::make_unique<ForwardingReporter>(
            [this, prefix = QLatin1Char('[') + runGateways.at(i) +
                            QStringLiteral("] ")](const QString &text) { context.console(prefix + text); },
            [this, i](qint64 done, qint64 total) { showProgress(i, done, total); }));
    FleetPolicy policy;
    policy.parallel = ui->spinBox_batch_parallel->value();
    policy.retries = ui->spinBox_batch_retries->value();
    fleet = std::make_unique<GatewayFleet>(
        session, runGateways, runTarget, policy,
        [this](int index) -> UpdateReporter & { return *reporters.at(size_t(index)); });
    connect(&fleet->runner(), &FleetRunner::targetStarted, this, &BatchUpdatePage::showTarget);
    connect(&fleet->runner(), &FleetRunner::targetFinished, this, &BatchUpdatePage::showTarget);
    connect(&fleet->runner(), &FleetRunner::finished, this, &BatchUpdatePage::finishFleet);
    recordTries();
    setRunning(true);
    setStatus(tr("正在更新 %1 个网关").arg(runGateways.size()), false);
    fleet->start(runImage);
}

void BatchUpdatePage::stop()
{
    if (isRunning())
        fleet->abortAll({UpdateFailure::Kind::StoppedByUser, QStringLiteral("stopped by the user")});
}

void BatchUpdatePage::showTarget(int index)
{
    const int row = rows.at(index);
    const FleetResult result = runner().result(index);
    setCell(row, StateColumn, stateText(result));
    if (result == FleetResult::Running)
        return;
    setCell(row, TimeColumn, timeText(runner().elapsedMs(index)));
    setCell(row, ResultColumn, result == FleetResult::Success ? stateText(result) : runner().reason(index));
    if (result == FleetResult::Success)
        progressBar(row)->setValue(kBarSteps);
}

void BatchUpdatePage::showProgress(int index, qint64 done, qint64 total)
{
    if (total <= 0)
        return;
    const int row = rows.at(index);
    const int step = int(qBound<qint64>(0, done, total) * kBarSteps / total);
    QProgressBar *bar = progressBar(row);
    if (bar->value() == step)
        return;
    bar->setValue(step);
    setCell(row, TimeColumn, timeText(runner().elapsedMs(index)));
}

void BatchUpdatePage::finishFleet()
{
    const int succeeded = runner().count(FleetResult::Success);
    const int failed = runner().count(FleetResult::Failed);
    const int skipped = runner().count(FleetResult::Skipped);
    setStatus(tr("完成：%1 成功，%2 失败，%3 跳过，用时 %4")
                  .arg(succeeded)
                  .arg(failed)
                  .arg(skipped)
                  .arg(timeText(runner().totalMs())),
              failed + skipped > 0);
    context.console(QStringLiteral("batch update over: %1 succeeded, %2 failed, %3 skipped")
                        .arg(succeeded)
                        .arg(failed)
                        .arg(skipped));
    setRunning(false);
    emit batchFinished();
}

void BatchUpdatePage::setRunning(bool running)
{
    ui->pushButton_batch_start->setEnabled(!running);
    ui->pushButton_batch_stop->setEnabled(running);
    ui->pushButton_batch_remove->setEnabled(!running);
    ui->spinBox_batch_parallel->setEnabled(!running);
    ui->spinBox_batch_retries->setEnabled(!running);
    ui->checkBox_batch_skipDone->setEnabled(!running);
    ui->lineEdit_batch_retryRun->setEnabled(!running);
    emit runningChanged(running);
}

void BatchUpdatePage::setStatus(const QString &text, bool failed)
{
    ui->label_batch_status->setText(text);
    ui->label_batch_status->setStyleSheet(failed ? QStringLiteral("color: #c62828;") : QString());
}

void BatchUpdatePage::setCell(int row, int column, const QString &text)
{
    QTableWidgetItem *item = ui->tableWidget_batch->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        item->setFlags(Qt::ItemIsEnabled);
        ui->tableWidget_batch->setItem(row, column, item);
    }
    item->setText(text);
}

QProgressBar *BatchUpdatePage::progressBar(int row) const
{
    return static_cast<QProgressBar *>(ui->tableWidget_batch->cellWidget(row, ProgressColumn));
}
