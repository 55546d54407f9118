#include "cli/clireporter.h"

#include "core/consoleline.h"

CliReporter::CliReporter(FILE *lines, FILE *progress, bool showProgress)
    : lineStream(lines), progressStream(progress), progressEnabled(showProgress)
{
}

void CliReporter::consoleLine(const QString &text)
{
    endProgressLine();
    writeLine(ConsoleLine::formatNow(text));
    if (progressShown)
        drawProgress();
}

// Whoever read the lines may have gone (`| head`); the update still runs to its end, so that
// the device is never left half-written, and only the lines are dropped.
void CliReporter::writeLine(const QString &line)
{
    if (!linesWanted)
        return;
    fputs(line.toUtf8().constData(), lineStream);
    fputc('\n', lineStream);
    if (fflush(lineStream) != 0 || ferror(lineStream))
        linesWanted = false;
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
    drawProgress();
    fputc('\n', progressStream);
    fflush(progressStream);
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

void CliReporter::drawProgress()
{
    const QString text = progressText(done, total, clock.isValid() ? clock.elapsed() : 0);
    fprintf(progressStream, "\r%s\x1b[K", text.toUtf8().constData());
    fflush(progressStream);
}

void CliReporter::endProgressLine()
{
    if (!progressShown)
        return;
    fputs("\r\x1b[K", progressStream);
    fflush(progressStream);
}
