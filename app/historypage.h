#pragma once

#include "history/historyquery.h"
#include "history/updaterecord.h"

#include <QList>
#include <QWidget>
#include <memory>

class QSqlQueryModel;
class WindowHistory;

namespace Ui {
class HistoryPage;
}

// The page "历史记录": the update records of the store, newest first, through a model on the
// window's own reading connection, filtered by target, device, result and a range of days.
// Records written while it is shown appear at once (the recorder says when it wrote); "导出CSV"
// writes exactly the rows shown.
class HistoryPage : public QWidget
{
    Q_OBJECT
public:
    explicit HistoryPage(WindowHistory &history, QWidget *parent = nullptr);
    ~HistoryPage() override;

    Ui::HistoryPage *form() const { return ui.get(); }
    QSqlQueryModel *model() const { return rows.get(); }
    // The form's filters as a query.
    HistoryQuery filters() const;
    // Every row the table shows, as records.
    QList<UpdateRecord> shownRecords() const;
    // False with the reason when the file cannot be written; an earlier file stays as it was.
    bool exportCsv(const QString &path, QString *problem) const;

public slots:
    // Reads the store again with the form's filters, now when shown, else when it is next shown.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fillResultChoices();
    void readRows();
    void letGoOfStore();
    void chooseExportFile();
    void setStatus(const QString &text, bool failed);

    std::unique_ptr<Ui::HistoryPage> ui;
    WindowHistory &history;
    std::unique_ptr<QSqlQueryModel> rows;
    bool stale = true;
};
