#include "cli/clireporter.h"

#include "cli/outputwriter.h"
#include "cli/terminaltext.h"
#include "core/consoleline.h"

CliReporter::CliReporter(OutputWriter &writer, bool showProgress)
    : writer(writer), progressEnabled(showProgress)
{
}

// The bar is taken off the terminal before the line and drawn again after it by the writer.
void CliReporter::consoleLine(const QString &text)
{
    writer.write(OutputWriter::Stream::Out,
                 (TerminalText::escaped(ConsoleLine::formatNow(text)) + QLatin1Char('\n')).toUtf8(),
                 OutputWriter::Kind::Line);
}

void CliReporter::progressReset()
{
    done = 0;
}

void CliReporter::progressMaximum(int maximum)
{
    total = maximum;
    done = 0;
    clock.start();
    progressShown = progressEnabled;
    if (progressShown)
        drawProgress();
}

void CliReporter::progressValue(int value)
{
    done = value;
    if (progressShown)
        drawProgress();
}

void CliReporter::finishProgress()
{
    if (!progressShown)
        return;
    writer.setBoard(QByteArray(), QByteArray());
    writer.write(OutputWriter::Stream::Err, ("\r" + currentProgress() + QLatin1Char('\n')).toUtf8());
    progressShown = false;
}

void CliReporter::deviceAddress(const QString &address)
{
    Q_UNUSED(address)
}

QString CliReporter::progressText(qint64 done, qint64 total, qint64 elapsedMs, int width)
{
    const qint64 shownDone = qBound<qint64>(0, done, total);
    const int filled = total > 0 ? int(shownDone * width / total) : 0;
    const QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('.'));
    const double seconds = elapsedMs / 1000.0;
    const double rate = seconds > 0 ? shownDone / seconds : 0;
    QString left = QStringLiteral("-:--");
    if (rate > 0) {
        const qint64 secondsLeft = qint64((total - shownDone) / rate + 0.5);
        left = QStringLiteral("%1:%2").arg(secondsLeft / 60).arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
    }
    return QStringLiteral("[%1] %2/%3 B  %4 KiB/s  %5 left")
        .arg(bar)
        .arg(shownDone)
        .arg(total)
        .arg(rate / 1024.0, 0, 'f', 1)
        .arg(left);
}

QString CliReporter::currentProgress() const
{
    return progressText(done, total, clock.isValid() ? clock.elapsed() : 0);
}

void CliReporter::drawProgress()
{
    writer.setBoard(currentProgress().toUtf8(), "\r\x1b[K");
}
