// The window's memory over a day at the station: builds the main window, ticks the given ports on
// its page "量产" as an operator would (and the target kind, module unless given), sends IMAGE to
// device after device, and prints the process's resident memory and the log's length each time
// the passed units reach one of the given counts; after the last count it presses "停止" and
// prints the counters. The ports must be listed (PLOVIKKIT_EXTRA_PORTS) and have devices coming
// and going (plovikkit-devsim --devices).
#include "app/console/logdisplay.h"
#include "app/mainwindow.h"
#include "app/stationpage.h"
#include "station/stationcounters.h"
#include "ui_mainwindow.h"
#include "ui_stationpage.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024);
}

bool chooseTarget(StationPage &page, const QString &name)
{
    TargetKind kind;
    QComboBox *targets = page.form()->comboBox_station_target;
    const int item = TargetKindText::parse(name, &kind) ? targets->findData(int(kind)) : -1;
    targets->setCurrentIndex(item);
    return item >= 0;
}

bool tickPorts(StationPage &page, const QStringList &ports)
{
    QListWidget *list = page.form()->listWidget_station_ports;
    int ticked = 0;
    for (int row = 0; row < list->count(); ++row) {
        if (ports.contains(list->item(row)->data(Qt::UserRole).toString())) {
            list->item(row)->setCheckState(Qt::Checked);
            ++ticked;
        }
    }
    return ticked == ports.size();
}

QList<int> unitCounts(const QString &text)
{
    QList<int> counts;
    for (const QString &part : text.split(QLatin1Char(','))) {
        const int count = part.toInt();
        if (count <= 0)
            return {};
        counts << count;
    }
    std::sort(counts.begin(), counts.end());
    return counts;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    QString target = QStringLiteral("module");
    if (arguments.value(1) == QLatin1String("--target")) {
        target = arguments.value(2);
        arguments.erase(arguments.begin() + 1, arguments.begin() + 3);
    }
    const QList<int> counts = unitCounts(arguments.value(2));
    if (arguments.size() < 4 || counts.isEmpty()) {
        fprintf(stderr, "usage: plovikkit-stationpagebench [--target KIND] IMAGE UNITS[,UNITS...] PORT...\n");
        return 2;
    }
    MainWindow window;
    window.show();
    window.form()->comboBox_update_link->setEditText(arguments.at(1));
    StationPage &page = *window.stationPage();
    window.form()->tabWidget->setCurrentWidget(&page);
    page.refreshPorts();
    if (!chooseTarget(page, target) || !tickPorts(page, arguments.mid(3))) {
        fprintf(stderr, "plovikkit-stationpagebench: no such target kind, or not every port is listed\n");
        return 1;
    }
    int next = 0;
    QObject::connect(&page, &StationPage::countersChanged, [&] {
        const int passed = page.counters()->passed();
        // The log keeps its newest 20,000 lines: until it has them, it grows with the units.
        const int logLines = window.console()->textArea()->document()->blockCount();
        for (; next < counts.size() && passed >= counts.at(next); ++next)
            printf("units %d rss_kib %ld log_lines %d\n", passed, residentKiB(), logLines);
        fflush(stdout);
        if (next == counts.size())
            page.stop();
    });
    QObject::connect(&page, &StationPage::stationFinished, &app, &QApplication::quit);
    QTimer::singleShot(0, &page, &StationPage::start);
    app.exec();
    const StationCounters *counters = page.counters();
    if (!counters || next < counts.size()) {
        fprintf(stderr, "plovikkit-stationpagebench: %s\n",
                qPrintable(page.form()->label_station_status->text()));
        return 1;
    }
    printf("passed %d failed %d skipped %d\n", counters->passed(), counters->failed(), counters->skipped());
    return 0;
}
