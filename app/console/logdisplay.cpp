#include "logdisplay.h"

#include "consoleline.h"

#include "debugtrace.h"
#include "panellayout.h"

#include <QDebug>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {
const QString kWelcome = QStringLiteral("Welcome ...");
}

LogDisplay::LogDisplay() : consoleLayout(new QVBoxLayout), textEdit(new QPlainTextEdit)
{
    consoleLayout->addWidget(textEdit);
    textEdit->clear();
    textEdit->appendPlainText(kWelcome);

    auto *clearButton = new QPushButton(QStringLiteral("Clear Display"));
    clearButton->setObjectName(QStringLiteral("pushButton_clearDisplay"));
    connect(clearButton, &QPushButton::clicked, this, [this] {
        TRACE() << "pushButton_clearDisplay ";
        clearDisplay();
    });
    consoleLayout->addWidget(clearButton);
}

LogDisplay::~LogDisplay()
{
    // Once installed, the console belongs to the window's log tab.
    PanelLayout::deleteIfUninstalled(consoleLayout);
}

void LogDisplay::set(const QString &text)
{
    textEdit->appendPlainText(ConsoleLine::formatNow(text));
}

void LogDisplay::clearDisplay()
{
    textEdit->clear();
    textEdit->appendPlainText(kWelcome);
}
