#include "app/historypage.h"
#include "ui_historypage.h"

#include "app/windowhistory.h"
#include "history/historyexport.h"
#include "history/historystore.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QJsonObject>
#include <QSaveFile>
#include <QSqlQuery>
#include <QSqlQueryModel>
#include <QSqlRecord>

namespace {

// A record's results as the store spells them, with what the list shows for each.
const std::pair<const char *, const char *> kResultChoices[] = {
    {"", QT_TRANSLATE_NOOP("HistoryPage", "全部结果")},
    {"success", QT_TRANSLATE_NOOP("HistoryPage", "成功")},
    {"failed", QT_TRANSLATE_NOOP("HistoryPage", "失败")},
    {"skipped", QT_TRANSLATE_NOOP("HistoryPage", "跳过")},
    {"stopped", QT_TRANSLATE_NOOP("HistoryPage", "停止")},
    {"interrupted", QT_TRANSLATE_NOOP("HistoryPage", "中断")},
    {"running", QT_TRANSLATE_NOOP("HistoryPage", "进行中")},
};

UpdateRecord recordOf(const QSqlRecord &row)
{
    QJsonObject object;
    for (int column = 0; column < row.count(); ++column)
        object.insert(row.fieldName(column), QJsonValue::fromVariant(row.value(column)));
    return UpdateRecord::fromJson(object);
}

// A model reads its rows back and forth; the store's queries go forward only. The statement is
// prepared with its values bound: run again, it gives the same rows, now cached for the model.
QSqlQuery scrollable(QSqlQuery query)
{
    query.finish();
    query.setForwardOnly(false);
    query.exec();
    return query;
}

} // namespace

HistoryPage::HistoryPage(WindowHistory &history, QWidget *parent)
    : QWidget(parent), ui(std::make_unique<Ui::HistoryPage>()), history(history),
      rows(std::make_unique<QSqlQueryModel>())
{
    ui->setupUi(this);
    fillResultChoices();
    const QDate today = QDate::currentDate();
    ui->dateEdit_history_since->setDate(today.addDays(-30));
    ui->dateEdit_history_until->setDate(today);
    ui->tableView_history->setModel(rows.get());
    ui->tableView_history->horizontalHeader()->setDefaultSectionSize(120);
    ui->tableView_history->verticalHeader()->setDefaultSectionSize(
        ui->tableView_history->fontMetrics().height() + 6);
    connect(ui->lineEdit_history_target, &QLineEdit::textChanged, this, &HistoryPage::refresh);
    connect(ui->lineEdit_history_device, &QLineEdit::textChanged, this, &HistoryPage::refresh);
    connect(ui->comboBox_history_result, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &HistoryPage::refresh);
    connect(ui->checkBox_history_dates, &QCheckBox::toggled, this, [this](bool on) {
        ui->dateEdit_history_since->setEnabled(on);
        ui->dateEdit_history_until->setEnabled(on);
        refresh();
    });
    connect(ui->dateEdit_history_since, &QDateEdit::dateChanged, this, &HistoryPage::refresh);
    connect(ui->dateEdit_history_until, &QDateEdit::dateChanged, this, &HistoryPage::refresh);
    connect(ui->pushButton_history_export, &QPushButton::clicked, this, &HistoryPage::chooseExportFile);
    connect(&history, &WindowHistory::recordsWritten, this, &HistoryPage::refresh);
    connect(&history, &WindowHistory::storeClosing, this, &HistoryPage::letGoOfStore);
}

// The model's query lives on the store's connection: it goes first.
HistoryPage::~HistoryPage()
{
    rows.reset();
}

HistoryQuery HistoryPage::filters() const
{
    HistoryQuery query;
    query.target = ui->lineEdit_history_target->text().trimmed();
    query.device = ui->lineEdit_history_device->text().trimmed().toUpper();
    query.result = ui->comboBox_history_result->currentData().toString();
    if (ui->checkBox_history_dates->isChecked()) {
        // The user's days, in the local time the date fields show.
        query.since = ui->dateEdit_history_since->date().startOfDay().toUTC();
        query.until = ui->dateEdit_history_until->date().endOfDay().toUTC();
    }
    return query;
}

QList<UpdateRecord> HistoryPage::shownRecords() const
{
    while (rows->canFetchMore())
        rows->fetchMore();
    QList<UpdateRecord> records;
    for (int row = 0; row < rows->rowCount(); ++row)
        records << recordOf(rows->record(row));
    return records;
}

bool HistoryPage::exportCsv(const QString &path, QString *problem) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !HistoryExport::writeCsv(file, shownRecords()) ||
        !file.commit()) {
        *problem = file.errorString();
        return false;
    }
    return true;
}

void HistoryPage::refresh()
{
    stale = true;
    if (isVisible())
        readRows();
}

void HistoryPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (stale)
        readRows();
}

void HistoryPage::fillResultChoices()
{
    for (const auto &[result, shown] : kResultChoices)
        ui->comboBox_history_result->addItem(tr(shown), QString::fromLatin1(result));
}

void HistoryPage::readRows()
{
    stale = false;
    HistoryStore *store = history.reader();
    if (!store) {
        rows->clear();
        setStatus(tr("无法读取历史记录，详情见“日志”页"), true);
        return;
    }
    rows->setQuery(scrollable(store->findQuery(filters())));
    setStatus(tr("%1 条记录%2（%3）")
                  .arg(rows->rowCount())
                  .arg(rows->canFetchMore() ? tr("以上") : QString(), history.location().displayName()),
              false);
}

void HistoryPage::letGoOfStore()
{
    rows->clear();
    stale = true;
}

void HistoryPage::chooseExportFile()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("导出CSV"), QStringLiteral("history.csv"),
                                                      QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    QString problem;
    if (exportCsv(path, &problem))
        setStatus(tr("已导出 %1 条记录到 %2").arg(rows->rowCount()).arg(path), false);
    else
        setStatus(tr("导出失败：") + problem, true);
}

void HistoryPage::setStatus(const QString &text, bool failed)
{
    ui->label_history_status->setText(text);
    ui->label_history_status->setStyleSheet(failed ? QStringLiteral("color: #c62828;") : QString());
}
