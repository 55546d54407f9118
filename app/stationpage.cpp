#include "app/stationpage.h"
#include "ui_stationpage.h"

#include "app/stationtile.h"
#include "app/windowhistory.h"
#include "history/historyrecorder.h"
#include "platform/portidentity.h"
#include "platform/serialportlist.h"
#include "station/station.h"
#include "storage/imagesource.h"

#include <QCryptographicHash>
#include <QUuid>

namespace {

constexpr int kTileColumns = 4;
constexpr qint32 kDefaultBaud = 115200;

// A port item's own value: the name the station opens, "serial:SN" for an adapter by number.
constexpr int kPortRole = Qt::UserRole;

QString sizeText(qint64 size)
{
    return size < 0 ? QString() : QStringLiteral("%L1 B").arg(size);
}

QString slotPrefix(const QString &slotName)
{
    return QLatin1Char('[') + slotName + QStringLiteral("] ");
}

} // namespace

StationPage::StationPage(Context context, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::StationPage>()), context(std::move(context))
{
    ui->setupUi(this);
    QFont large = ui->label_station_imageName->font();
    large.setPointSizeF(large.pointSizeF() * 1.5);
    large.setBold(true);
    ui->label_station_imageName->setFont(large);
    ui->label_station_imageSha256->setFont(large);
    ui->label_station_counters->setFont(large);
    fillChoices();
    refreshPorts();
    showImage();
    if (this->context.image)
        connect(this->context.image, &ImageSource::changed, this, &StationPage::showImage);
    connect(ui->pushButton_station_refresh, &QPushButton::clicked, this, &StationPage::refreshPorts);
    connect(ui->checkBox_station_everyPort, &QCheckBox::toggled, ui->listWidget_station_ports,
            &QWidget::setDisabled);
    connect(ui->pushButton_station_start, &QPushButton::clicked, this, &StationPage::start);
    connect(ui->pushButton_station_stop, &QPushButton::clicked, this, &StationPage::stop);
}

// The slots' sessions report to the tiles and records: they go first.
StationPage::~StationPage()
{
    station.reset();
}

// From "开始" until the station has said it finished, which it does after its last update ended.
bool StationPage::isRunning() const
{
    return running;
}

// Adapters come and go between shifts: the list is what the system has when the page is looked at.
void StationPage::showEvent(QShowEvent *event)
{
    refreshPorts();
    QWidget::showEvent(event);
}

const StationCounters *StationPage::counters() const
{
    return station ? &station->counters() : nullptr;
}

void StationPage::fillChoices()
{
    ui->comboBox_station_target->addItem(tr("模块"), int(TargetKind::Module));
    ui->comboBox_station_target->addItem(tr("演示板"), int(TargetKind::DemoBoard));
    ui->comboBox_station_target->addItem(tr("串口网关"), int(TargetKind::Gateway));
    for (const int baud : {9600, 19200, 38400, 57600, 115200, 250000, 500000})
        ui->comboBox_station_baud->addItem(QString::number(baud));
    ui->comboBox_station_baud->setCurrentText(QString::number(kDefaultBaud));
    ui->comboBox_station_baud->setEditable(true);
}

// An adapter with a serial number is offered by that number too: a slot so named stays with its
// adapter when it is plugged back under another tty.
void StationPage::refreshPorts()
{
    if (isRunning())
        return;
    const QStringList ticked = tickedPorts();
    const QList<SerialPortEntry> ports = SerialPortList::availablePorts();
    QStringList names;
    for (const SerialPortEntry &entry : ports)
        names << entry.name;
    const QList<PortIdentity> identities = PortIdentity::of(names);
    QListWidget *list = ui->listWidget_station_ports;
    list->clear();
    auto addItem = [list, &ticked](const QString &port, const QString &text) {
        auto *item = new QListWidgetItem(text, list);
        item->setData(kPortRole, port);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(ticked.contains(port) ? Qt::Checked : Qt::Unchecked);
    };
    for (const SerialPortEntry &entry : ports)
        addItem(entry.name, entry.name + QLatin1Char(' ') + entry.description);
    for (int i = 0; i < ports.size(); ++i) {
        const QString serialNumber = identities.value(i).serialNumber;
        if (!serialNumber.isEmpty())
            addItem(QStringLiteral("serial:") + serialNumber,
                    QStringLiteral("serial:%1 %2").arg(serialNumber, ports.at(i).description));
    }
}

QStringList StationPage::tickedPorts() const
{
    QStringList ports;
    const QListWidget *list = ui->listWidget_station_ports;
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->checkState() == Qt::Checked)
            ports << list->item(row)->data(kPortRole).toString();
    }
    return ports;
}

// While the station runs, the tiles and counters speak of the bytes it took at the start.
void StationPage::showImage()
{
    if (isRunning() || !context.image)
        return;
    showImageFacts(context.image->facts().name, context.image->facts().size, context.image->sha256());
}

// A file's SHA-256 is known once its bytes are read, which a start does; the path may name a
// FIFO by now, so choosing it reads nothing.
void StationPage::showImageFacts(const QString &name, qint64 size, const QString &sha256)
{
    const bool none = name.isEmpty() && size < 0;
    ui->label_station_imageName->setText(none ? tr("（未选择固件）")
                                              : (name.isEmpty() ? tr("（内存中的固件）") : name) +
                                                    QStringLiteral("  ") + sizeText(size));
    ui->label_station_imageSha256->setText(
        none ? QString() : QStringLiteral("SHA-256 ") + (sha256.isEmpty() ? tr("（开始时读取）") : sha256));
}

TargetKind StationPage::chosenTarget() const
{
    return TargetKind(ui->comboBox_station_target->currentData().toInt());
}

qint32 StationPage::chosenBaud() const
{
    return ui->comboBox_station_baud->currentText().toInt();
}

QString StationPage::startProblem() const
{
    QString problem;
    if (context.mayStart && !context.mayStart(&problem))
        return problem;
    if (!ui->checkBox_station_everyPort->isChecked() && tickedPorts().isEmpty())
        return tr("请勾选工位串口，或选择“每个出现的串口”");
    if (chosenBaud() < 300)
        return tr("波特率无效：%1").arg(ui->comboBox_station_baud->currentText());
    return QString();
}

void StationPage::start()
{
    if (isRunning())
        return;
    QString problem = startProblem();
    if (problem.isEmpty()) {
        runImage = context.imageBytes(&problem);
        if (runImage.isEmpty() && problem.isEmpty())
            problem = tr("固件为空");
    }
    if (!problem.isEmpty()) {
        setStatus(problem, true);
        return;
    }
    // The image is read now and its facts taken with it: a choice made on another page later
    // changes neither what goes out nor what the records say went out.
    runSha256 = QString::fromLatin1(QCryptographicHash::hash(runImage, QCryptographicHash::Sha256).toHex());
    runImageName = context.image ? context.image->facts().name : QString();
    runImageSource = context.image ? context.image->sourceText() : QString();
    runTarget = chosenTarget();
    run = QUuid::createUuid().toString(QUuid::WithoutBraces);
    showImageFacts(runImageName, runImage.size(), runSha256);
    startStation();
}

void StationPage::stop()
{
    if (station && station->isRunning())
        station->stop({UpdateFailure::Kind::StoppedByUser, QStringLiteral("stopped by the user")});
}

void StationPage::startStation()
{
    StationOptions options;
    if (!ui->checkBox_station_everyPort->isChecked())
        options.ports = tickedPorts();
    options.target = runTarget;
    options.baudRate = chosenBaud();
    clearTiles();
    unitRecords.clear();
    station = std::make_unique<Station>(options, runImage);
    connect(station.get(), &Station::slotAdded, this, &StationPage::addTile);
    connect(station.get(), &Station::slotRemoved, this, &StationPage::removeTile);
    connect(station.get(), &Station::slotStateChanged, this, &StationPage::showSlotState);
    connect(station.get(), &Station::progress, this, &StationPage::showProgress);
    connect(station.get(), &Station::consoleLine, this, [this](const QString &slotName, const QString &text) {
        context.console(slotPrefix(slotName) + text);
    });
    connect(station.get(), &Station::unitStarted, this, &StationPage::beginUnitRecord);
    connect(station.get(), &Station::unitFinished, this, &StationPage::completeUnitRecord);
    connect(station.get(), &Station::finished, this, &StationPage::finishStation);
    context.console(QStringLiteral("station run %1: %2, %3 at %4 baud, image %5 (sha256 %6)")
                        .arg(run,
                             options.ports.isEmpty() ? QStringLiteral("every port that appears")
                                                     : options.ports.join(QStringLiteral(", ")),
                             TargetKindText::name(runTarget))
                        .arg(options.baudRate)
                        .arg(runImageName, runSha256));
    setLocked(true);
    setStatus(tr("运行中"), false);
    showCounters();
    station->start();
}

void StationPage::addTile(const QString &slotName)
{
    if (tiles.contains(slotName))
        return;
    auto *tile = new StationTile(slotName, ui->widget_station_tiles);
    const int index = tiles.size();
    ui->gridLayout_station_tiles->addWidget(tile, index / kTileColumns, index % kTileColumns);
    tiles.insert(slotName, tile);
}

// A port that went away takes its tile; the others close up in the order they came.
void StationPage::removeTile(const QString &slotName)
{
    delete tiles.take(slotName);
    QList<StationTile *> kept;
    while (QLayoutItem *item = ui->gridLayout_station_tiles->takeAt(0)) {
        kept << static_cast<StationTile *>(item->widget());
        delete item;
    }
    for (int i = 0; i < kept.size(); ++i)
        ui->gridLayout_station_tiles->addWidget(kept.at(i), i / kTileColumns, i % kTileColumns);
}

void StationPage::clearTiles()
{
    qDeleteAll(tiles);
    tiles.clear();
}

void StationPage::showSlotState(const QString &slotName, const StationSlotStatus &status)
{
    addTile(slotName);
    StationTile *tile = tiles.value(slotName);
    const QString twice = status.seenTwice ? tr("地址 %1 同时出现在两个工位").arg(status.device) : QString();
    switch (status.state) {
    case StationSlotStatus::State::Waiting:
        tile->showWaiting(status.reason);
        break;
    case StationSlotStatus::State::Gone:
        tile->showWaiting(tr("设备已取下"));
        break;
    case StationSlotStatus::State::Busy:
        tile->showBusy(status.device + (twice.isEmpty() ? QString() : QLatin1Char('\n') + twice));
        break;
    case StationSlotStatus::State::Pass:
        tile->showPass(status.device, twice);
        break;
    case StationSlotStatus::State::Fail:
        tile->showFail(status.device,
                       twice.isEmpty() ? status.reason : status.reason + QLatin1Char('\n') + twice,
                       status.whatToCheck);
        break;
    case StationSlotStatus::State::Remove:
        tile->showRemove(status.device);
        break;
    }
}

void StationPage::showProgress(const QString &slotName, qint64 done, qint64 total)
{
    if (StationTile *tile = tiles.value(slotName))
        tile->showProgress(done, total);
}

UpdateRecord StationPage::unitRecord(const QString &slotName, const QString &device) const
{
    UpdateRecord record = context.newRecord(run);
    record.imageSha256 = runSha256;
    record.imageSize = runImage.size();
    record.imageName = runImageName;
    record.imageSource = runImageSource;
    record.link = QStringLiteral("serial");
    record.target = slotName;
    record.targetKind = TargetKindText::name(runTarget);
    record.device = device;
    QString path = slotName;
    QString unresolved;
    PortIdentity::resolve(slotName, &path, &unresolved);
    const PortIdentity port = PortIdentity::of(path);
    record.portSerial = port.serialNumber;
    record.portUsbId = port.usbId;
    record.portById = port.byIdPath;
    return record;
}

void StationPage::beginUnitRecord(const QString &slotName, const QString &device)
{
    if (!context.history)
        return;
    const UpdateRecord record = unitRecord(slotName, device);
    context.history->begin(record);
    unitRecords.insert(slotName, record);
}

// A unit turned away as done was never begun: it gets its record here, as a skip.
void StationPage::completeUnitRecord(const StationUnit &unit)
{
    showCounters();
    if (!context.history)
        return;
    UpdateRecord record =
        unitRecords.contains(unit.slot) ? unitRecords.take(unit.slot) : unitRecord(unit.slot, unit.device);
    const FleetResult result = unit.result == StationUnit::Result::Success   ? FleetResult::Success
                               : unit.result == StationUnit::Result::Skipped ? FleetResult::Skipped
                                                                             : FleetResult::Failed;
    WindowHistory::endRecord(&record, result, unit.failure, unit.stats, qint64(unit.seconds * 1000));
    // Worded as the flasher's station records it, so one query finds both.
    if (unit.seenTwice) {
        const QString twice =
            QStringLiteral("address seen twice: another slot held a device of this address at the same time");
        record.reason = record.reason.isEmpty() ? twice : record.reason + QStringLiteral("; ") + twice;
    }
    context.history->complete(record);
}

void StationPage::showCounters()
{
    const StationCounters &counters = station->counters();
    ui->label_station_counters->setText(tr("通过 %1   失败 %2   良率 %3%   %4 台/小时   中位 %5 s")
                                            .arg(counters.passed())
                                            .arg(counters.failed())
                                            .arg(counters.yieldPercent(), 0, 'f', 1)
                                            .arg(counters.unitsPerHour(), 0, 'f', 0)
                                            .arg(counters.medianUnitSeconds(), 0, 'f', 1));
    QStringList kinds;
    for (auto kind = counters.failuresByKind().cbegin(); kind != counters.failuresByKind().cend(); ++kind)
        kinds << QStringLiteral("%1: %2").arg(kind.key()).arg(kind.value());
    ui->label_station_counters->setToolTip(
        kinds.isEmpty() ? QString() : tr("失败按类别：") + kinds.join(QStringLiteral(", ")));
    emit countersChanged();
}

void StationPage::finishStation()
{
    const StationCounters &counters = station->counters();
    context.console(QStringLiteral("station run over: %1 passed, %2 failed, %3 skipped")
                        .arg(counters.passed())
                        .arg(counters.failed())
                        .arg(counters.skipped()));
    setLocked(false);
    setStatus(tr("已停止"), false);
    showImage();
    emit stationFinished();
}

// The operator lock: nothing that decides what the station sends, and to which slot, takes a
// click while units run.
void StationPage::setLocked(bool locked)
{
    running = locked;
    ui->groupBox_station_slots->setEnabled(!locked);
    ui->comboBox_station_target->setEnabled(!locked);
    ui->comboBox_station_baud->setEnabled(!locked);
    ui->pushButton_station_start->setEnabled(!locked);
    ui->pushButton_station_stop->setEnabled(locked);
    emit runningChanged(locked);
}

void StationPage::setStatus(const QString &text, bool failed)
{
    ui->label_station_status->setText(text);
    ui->label_station_status->setStyleSheet(failed ? QStringLiteral("color: #c62828;") : QString());
}
