#pragma once

#include <QPushButton>
#include <memory>

class QPlainTextEdit;
class QVBoxLayout;

// The log console: one time-stamped line per step of an update, for the user to read. It keeps
// the newest kMaxLines lines, so a day of batches does not grow the window for good; once it
// has dropped older ones, its first line says how many.
// It derives from QPushButton only to be a meta-object window class like the others; its
// own button face is never shown. Its page (text area and clear button) becomes the log tab
// of the main window, which then owns it.
class LogDisplay : public QPushButton
{
    Q_OBJECT
public:
    static constexpr int kMaxLines = 20000;

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
    void dropOldestLines();
    void showDroppedCount(bool noteShown);

    std::unique_ptr<QWidget> page;
    QVBoxLayout *pageLayout;
    QPlainTextEdit *textEdit;
    qint64 droppedLines = 0;
};
