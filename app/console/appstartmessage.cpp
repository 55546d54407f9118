#include "app/console/appstartmessage.h"
#include "ui_appstartmessage.h"

#include "platform/platformpaths.h"

#include <QFile>
#include <QMessageBox>
#include <QTextStream>

appStartMessage::appStartMessage(QWidget *parent) : QWidget(parent), ui(new Ui::appStartMessage)
{
    ui->setupUi(this);
    setWindowModality(Qt::WindowModal);

    QFile page(PlatformPaths::shippedFile(contentFileName()));
    if (!page.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QMessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("打不开用户文件"),
                                 QMessageBox::Ok);
    }
    QTextStream in(&page);
    in.setCodec("UTF-8");
    ui->textBrowser->setHtml(in.readAll());
}

appStartMessage::~appStartMessage()
{
    delete ui;
}

QString appStartMessage::pageHtml() const
{
    return ui->textBrowser->toHtml();
}
