#include "app/console/logdisplay.h"

#include "core/consoleline.h"

#include "core/debugtrace.h"

#include <QDebug>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QVBoxLayout>

namespace {
const QString kWelcome = QStringLiteral("Welcome ...");
// Marks the line that counts the dropped ones (a block's state is -1 unless set).
constexpr int kNoteState = 1;
} // namespace

LogDisplay::LogDisplay()
    : page(std::make_unique<QWidget>(nullptr, Qt::WindowFlags())), pageLayout(new QVBoxLayout(page.get())),
      textEdit(new QPlainTextEdit(page.get()))
{
    pageLayout->addWidget(textEdit);
    // The undo history would keep every line ever shown, dropped ones too.
    textEdit->setUndoRedoEnabled(false);
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
    dropOldestLines();
}

// The text area's own bound (maximumBlockCount) would drop the note with the lines, and
// rewriting the note after it costs a millisecond a line; removing the lines behind the note
// costs next to nothing.
void LogDisplay::dropOldestLines()
{
    QTextDocument *document = textEdit->document();
    const bool noteShown = document->firstBlock().userState() == kNoteState;
    const int firstLine = noteShown ? 1 : 0;
    const int excess = document->blockCount() - firstLine - kMaxLines;
    if (excess <= 0)
        return;
    QTextCursor oldest(document->findBlockByNumber(firstLine));
    oldest.setPosition(document->findBlockByNumber(firstLine + excess).position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    // A cleared console starts counting again.
    droppedLines = (noteShown ? droppedLines : 0) + excess;
    showDroppedCount(noteShown);
}

void LogDisplay::showDroppedCount(bool noteShown)
{
    QTextCursor note(textEdit->document()->firstBlock());
    if (noteShown) {
        note.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
    } else {
        note.insertBlock();
        note.movePosition(QTextCursor::Start);
    }
    note.insertText(ConsoleLine::formatNow(QStringLiteral("%1 older lines dropped").arg(droppedLines)));
    note.block().setUserState(kNoteState);
}

void LogDisplay::clearDisplay()
{
    textEdit->clear();
    textEdit->appendPlainText(kWelcome);
}
