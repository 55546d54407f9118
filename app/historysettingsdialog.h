#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class WindowHistory;

// "参数设置 > 历史记录": where the update records go and the station they name. A URL that is
// no postgresql://USER@HOST:PORT/DB one is refused in the dialog, never taken.
class HistorySettingsDialog : public QDialog
{
    Q_OBJECT
public:
    explicit HistorySettingsDialog(WindowHistory &history, QWidget *parent = nullptr);

    void accept() override;

private:
    WindowHistory &history;
    QLineEdit *urlEdit = nullptr;
    QLineEdit *stationEdit = nullptr;
    QLabel *problemLabel = nullptr;
};
