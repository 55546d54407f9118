#include "app/historysettingsdialog.h"

#include "app/windowhistory.h"
#include "history/historylocation.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>

HistorySettingsDialog::HistorySettingsDialog(WindowHistory &history, QWidget *parent)
    : QDialog(parent), history(history)
{
    setWindowTitle(tr("历史记录设置"));
    auto *form = new QFormLayout(this);
    urlEdit = new QLineEdit(history.urlSetting(), this);
    urlEdit->setObjectName(QStringLiteral("lineEdit_history_url"));
    urlEdit->setPlaceholderText(tr("postgresql://USER@HOST:PORT/DB（空：本机文件）"));
    urlEdit->setToolTip(tr("共享的PostgreSQL服务器；密码取自PGPASSWORD或~/.pgpass，不写在这里"));
    urlEdit->setMinimumWidth(360);
    form->addRow(tr("记录库"), urlEdit);
    stationEdit = new QLineEdit(history.stationSetting(), this);
    stationEdit->setObjectName(QStringLiteral("lineEdit_history_station"));
    stationEdit->setPlaceholderText(QHostInfo::localHostName());
    form->addRow(tr("工位名称"), stationEdit);
    problemLabel = new QLabel(this);
    problemLabel->setStyleSheet(QStringLiteral("color: #c62828;"));
    problemLabel->setWordWrap(true);
    form->addRow(problemLabel);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &HistorySettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &HistorySettingsDialog::reject);
    form->addRow(buttons);
}

void HistorySettingsDialog::accept()
{
    HistoryLocation location;
    location.url = urlEdit->text().trimmed();
    HistoryLocation::Server server;
    QString problem;
    if (location.isShared() && !location.server(&server, &problem)) {
        problemLabel->setText(problem);
        return;
    }
    history.changeSettings(location.url, stationEdit->text());
    QDialog::accept();
}
