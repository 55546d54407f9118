// plovikkit-historybench FILE [COUNT]: fills a new local store with COUNT records (100,000) like
// a production line's, then times a filtered page of 50, the summary and the window page's first
// rows, and prints the bytes each record takes on disk.

#include "history/historyrecorder.h"
#include "history/historystore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <cstdio>
#include <functional>

namespace {

const char *const results[] = {"success", "success", "success", "success", "success",
                               "success", "success", "success", "failed",  "stopped"};

UpdateRecord sample(int i, const QDateTime &start, QRandomGenerator &random)
{
    UpdateRecord r = HistoryRecorder::newRecord(QStringLiteral("run-%1").arg(i / 100));
    r.started = start.addSecs(i * 6);
    r.ended = r.started.addMSecs(20000 + random.bounded(20000));
    r.station = QStringLiteral("line-%1").arg(random.bounded(4));
    r.link = QStringLiteral("serial");
    r.target = QStringLiteral("/dev/ttyUSB%1").arg(random.bounded(8));
    r.portSerial = QStringLiteral("A%1").arg(random.bounded(100000), 7, 10, QChar('0'));
    r.portUsbId = QStringLiteral("0403:6001");
    r.portById = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_%1-if00-port0").arg(r.portSerial);
    r.targetKind = QStringLiteral("module");
    r.device = QStringLiteral("%1").arg(random.bounded(30000), 8, 16, QChar('0')).toUpper();
    r.splitLen = 1024;
    r.packetLen = 128;
    const int image = random.bounded(5);
    r.imageSha256 = QStringLiteral("%1").arg(image, 2, 10, QChar('0')).repeated(32);
    r.imageSize = 65536;
    r.imageName = QStringLiteral("firmware-v%1.bin").arg(image);
    r.imageSource = QStringLiteral("/srv/images/") + r.imageName;
    r.result = QLatin1String(results[random.bounded(10)]);
    if (r.result != QLatin1String("success")) {
        r.kind = QStringLiteral("no-answer");
        r.reason = QStringLiteral("no answer to the connect attempts");
    }
    r.bytesAcked = r.result == QLatin1String("success") ? 65536 : random.bounded(65536);
    r.repeats = random.bounded(3);
    r.timeouts = random.bounded(3);
    r.connectAttempts = 1;
    r.seconds = r.started.msecsTo(r.ended) / 1000.0;
    return r;
}

bool fill(HistoryStore &store, int count)
{
    QRandomGenerator random(19);
    const QDateTime start = QDateTime::currentDateTimeUtc().addSecs(-6LL * count);
    QList<UpdateRecord> batch;
    for (int i = 0; i < count; ++i) {
        batch << sample(i, start, random);
        if (batch.size() == 5000 || i + 1 == count) {
            if (!store.write(batch))
                return false;
            batch.clear();
        }
    }
    return true;
}

double timed(const std::function<void()> &work)
{
    QElapsedTimer timer;
    timer.start();
    work();
    return timer.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: plovikkit-historybench FILE [COUNT]\n");
        return 2;
    }
    const QString path = arguments[1];
    const int count = arguments.value(2, QStringLiteral("100000")).toInt();
    HistoryStore store;
    QString problem;
    if (!store.openLocal(path, &problem) || !fill(store, count)) {
        std::fprintf(stderr, "%s\n", qPrintable(problem + store.lastError()));
        return 1;
    }
    QSqlQuery(QSqlDatabase::database(store.connectionName()))
        .exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    const double bytes = double(QFileInfo(path).size()) / count;

    HistoryQuery page;
    page.result = QStringLiteral("failed");
    page.limit = 50;
    int rows = 0;
    const double findSeconds = timed([&] { rows = store.find(page).size(); });
    HistoryQuery device;
    device.device = QStringLiteral("00001234");
    device.limit = 50;
    int deviceRows = 0;
    const double deviceSeconds = timed([&] { deviceRows = store.find(device).size(); });
    HistorySummary summary;
    const double summarySeconds = timed([&] { summary = store.summary({}); });
    int firstRows = 0;
    const double windowSeconds = timed([&] {
        QSqlQuery query = store.findQuery({});
        while (firstRows < 256 && query.next())
            ++firstRows;
    });
    std::printf("records %d, %.0f bytes each on disk\n", count, bytes);
    std::printf("find, result=failed, limit 50: %.3f s (%d rows)\n", findSeconds, rows);
    std::printf("find, device=00001234, limit 50: %.3f s (%d rows)\n", deviceSeconds, deviceRows);
    std::printf("summary of all: %.3f s (%d images, %d stations)\n", summarySeconds,
                int(summary.images.size()), int(summary.stations.size()));
    std::printf("first %d rows, newest first: %.3f s\n", firstRows, windowSeconds);
    return 0;
}
