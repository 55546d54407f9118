#pragma once

#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

class QPlainTextEdit;

// The log console: one time-stamped line per step of an update, for the user to read.
// It derives from QPushButton only to be a meta-object window class like the others; its
// own button face is never shown. Its layout becomes the log tab of the main window.
class LogDisplay : public QPushButton
{
    Q_OBJECT
public:
    LogDisplay();
    ~LogDisplay() override;

    // Appends "hh:mm:ss.zzz - (set-65): <text>" as one paragraph.
    void set(const QString &text);
    QVBoxLayout *layout() const { return consoleLayout; }
    QPlainTextEdit *textArea() const { return textEdit; }

private:
    void clearDisplay();

    QPointer<QVBoxLayout> consoleLayout;
    QPlainTextEdit *textEdit;
};
