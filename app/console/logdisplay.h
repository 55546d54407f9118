#pragma once

#include <QPushButton>
#include <memory>

class QPlainTextEdit;
class QVBoxLayout;

// The log console: one time-stamped line per step of an update, for the user to read.
// It derives from QPushButton only to be a meta-object window class like the others; its
// own button face is never shown. Its page (text area and clear button) becomes the log tab
// of the main window, which then owns it.
class LogDisplay : public QPushButton
{
    Q_OBJECT
public:
    LogDisplay();
    ~LogDisplay() override;

    // Appends "hh:mm:ss.zzz - (set-65): <text>" as one paragraph.
    void set(const QString &text);
    QVBoxLayout *consoleLayout() const { return pageLayout; }
    QPlainTextEdit *textArea() const { return textEdit; }
    // Hands the console's page to whoever shows it; null once taken.
    QWidget *takePage() { return page.release(); }

private:
    void clearDisplay();

    std::unique_ptr<QWidget> page;
    QVBoxLayout *pageLayout;
    QPlainTextEdit *textEdit;
};
