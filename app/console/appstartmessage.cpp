#include "app/console/appstartmessage.h"
#include "ui_appstartmessage.h"

#include "app/windowlanguage.h"
#include "platform/platformpaths.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextStream>

appStartMessage::appStartMessage(QWidget *parent) : QWidget(parent), ui(new Ui::appStartMessage)
{
    ui->setupUi(this);
    setWindowModality(Qt::WindowModal);

    QFile page(contentPath());
    if (!page.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QMessageBox::information(nullptr, tr("提示"), tr("打不开用户文件"), QMessageBox::Ok);
    }
    QTextStream in(&page);
    in.setCodec("UTF-8");
    ui->textBrowser->setHtml(in.readAll());
}

appStartMessage::~appStartMessage()
{
    delete ui;
}

// The English page where one is shipped; the Chinese page is bilingual, and so the fallback.
QString appStartMessage::contentPath()
{
    if (WindowLanguage::installed() == WindowLanguage::Language::English) {
        const QString english = PlatformPaths::shippedFile(englishContentFileName());
        if (QFileInfo::exists(english))
            return english;
    }
    return PlatformPaths::shippedFile(contentFileName());
}

QString appStartMessage::pageHtml() const
{
    return ui->textBrowser->toHtml();
}
