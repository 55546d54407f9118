#pragma once

#include "history/updaterecord.h"
#include "protocol/targetkind.h"

#include <QByteArray>
#include <QHash>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class ImageSource;
class Station;
class StationCounters;
class StationTile;
class WindowHistory;
struct StationSlotStatus;
struct StationUnit;

namespace Ui {
class StationPage;
}

// The page "量产": a production station in the window. The operator ticks the slots (ports, an
// adapter by its serial number, or every port that appears), sees the image to send by name,
// size and SHA-256, picks the target kind and the rate, and presses "开始": from then on each
// slot takes device after device, each once, until "停止". While it runs those settings are
// locked, and the station sends the bytes it took at the start whatever the window chooses
// since. Each slot has a tile; counters and the yield sit above them; the slots' console lines
// go to the log with the slot in front; every unit is recorded, the station's session one run.
class StationPage : public QWidget
{
    Q_OBJECT
public:
    // What the page takes from the window.
    struct Context
    {
        // The image the window would send now, shown while the station is idle.
        ImageSource *image = nullptr;
        // Its bytes, read as a start takes them; empty with the reason when there are none.
        std::function<QByteArray(QString *problem)> imageBytes;
        std::function<void(const QString &)> console;
        // False with the reason when no station may start now (a single update runs).
        std::function<bool(QString *problem)> mayStart;
        // Where the units are recorded; none: they are not.
        WindowHistory *history = nullptr;
        // A record of the run for one unit: station, operator and the image the window holds.
        std::function<UpdateRecord(const QString &run)> newRecord;
    };

    explicit StationPage(Context context, QWidget *parent = nullptr);
    ~StationPage() override;

    Ui::StationPage *form() const { return ui.get(); }
    bool isRunning() const;
    StationTile *tile(const QString &slotName) const { return tiles.value(slotName); }
    QString runId() const { return run; }
    // The counts of the run under way or last run; null before the first.
    const StationCounters *counters() const;

public slots:
    void start();
    void stop();
    // Lists the ports the system has now, keeping what was ticked.
    void refreshPorts();

signals:
    void runningChanged(bool running);
    void stationFinished();
    // A unit ended: the counters moved.
    void countersChanged();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fillChoices();
    QStringList tickedPorts() const;
    QString startProblem() const;
    void showImage();
    void showImageFacts(const QString &name, qint64 size, const QString &sha256);
    TargetKind chosenTarget() const;
    qint32 chosenBaud() const;
    void startStation();
    void addTile(const QString &slotName);
    void removeTile(const QString &slotName);
    void clearTiles();
    void showSlotState(const QString &slotName, const StationSlotStatus &status);
    void showProgress(const QString &slotName, qint64 done, qint64 total);
    UpdateRecord unitRecord(const QString &slotName, const QString &device) const;
    void beginUnitRecord(const QString &slotName, const QString &device);
    void completeUnitRecord(const StationUnit &unit);
    void showCounters();
    void finishStation();
    void setLocked(bool locked);
    void setStatus(const QString &text, bool failed);

    std::unique_ptr<Ui::StationPage> ui;
    Context context;
    std::unique_ptr<Station> station;
    // A slot's tile lives as long as the slot: a day of units reuses it.
    QHash<QString, StationTile *> tiles;
    // The record of the unit each busy slot is updating; nothing is kept once it ended.
    QHash<QString, UpdateRecord> unitRecords;
    QByteArray runImage;
    QString runImageName;
    QString runImageSource;
    QString runSha256;
    TargetKind runTarget = TargetKind::Module;
    QString run;
    bool running = false;
};
