#pragma once

#include <QWidget>

namespace Ui {
class appStartMessage;
}

// Shown once after start-up with the page "startContent.html" from the working directory (or,
// when it has none, the installed one); in English "startContent_en.html", where there is one.
class appStartMessage : public QWidget
{
    Q_OBJECT
public:
    explicit appStartMessage(QWidget *parent = nullptr);
    ~appStartMessage() override;

    QString pageHtml() const;

    static QString contentFileName() { return QStringLiteral("startContent.html"); }
    static QString englishContentFileName() { return QStringLiteral("startContent_en.html"); }
    static QString contentPath();

private:
    Ui::appStartMessage *ui;
};
