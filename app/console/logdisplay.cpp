#include "app/console/logdisplay.h"

#include "core/consoleline.h"

#include "core/debugtrace.h"

#include <QDebug>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {
const QString kWelcome = QStringLiteral("Welcome ...");
}

LogDisplay::LogDisplay()
    : page(std::make_unique<QWidget>(nullptr, Qt::WindowFlags())), pageLayout(new QVBoxLayout(page.get())),
      textEdit(new QPlainTextEdit(page.get()))
{
    pageLayout->addWidget(textEdit);
    textEdit->clear();
    textEdit->appendPlainText(kWelcome);

    auto *clearButton = new QPushButton(QStringLiteral("Clear Display"), page.get());
    clearButton->setObjectName(QStringLiteral("pushButton_clearDisplay"));
    connect(clearButton, &QPushButton::clicked, this, [this] {
        TRACE(lcApp) << "pushButton_clearDisplay ";
        clearDisplay();
    });
    pageLayout->addWidget(clearButton);
}

LogDisplay::~LogDisplay() = default;

void LogDisplay::set(const QString &text)
{
    textEdit->appendPlainText(ConsoleLine::formatNow(text));
}

void LogDisplay::clearDisplay()
{
    textEdit->clear();
    textEdit->appendPlainText(kWelcome);
}
