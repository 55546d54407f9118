#pragma once

#include "history/updaterecord.h"
#include "protocol/targetkind.h"
#include "update/fleetrunner.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class BrokerSession;
class ForwardingReporter;
class GatewayFleet;
class QProgressBar;
class WindowHistory;

namespace Ui {
class BatchUpdatePage;
}

// The window's page for many gateways at once: the user lists gateways (typed, or taken from
// the MQTT window's list), ticks those to update, and one start sends the chosen image to all
// of them through the window's broker connection. Each row shows its gateway's state, progress,
// time and result; the console lines go to the log with the gateway id in front. A batch is one
// run of the update record, with a record per try of each gateway; it may skip the gateways that
// already have the image, take only the gateways a run left unfinished, and retry link failures.
class BatchUpdatePage : public QWidget
{
    Q_OBJECT
public:
    // What the page takes from the window, asked when an update starts.
    struct Context
    {
        std::function<QStringList()> knownGateways;
        // The image the single update would send now; empty with the reason when there is none.
        std::function<QByteArray(QString *problem)> image;
        std::function<TargetKind()> target;
        std::function<void(const QString &)> console;
        // False with the reason when no batch may start now (a single update runs).
        std::function<bool(QString *problem)> mayStart;
        // Where the batch's records go and are read from; none: the batch is not recorded.
        WindowHistory *history = nullptr;
        // A record of the run for one target: station, operator and the image being sent.
        std::function<UpdateRecord(const QString &run)> newRecord;
    };

    BatchUpdatePage(BrokerSession &session, Context context, QWidget *parent = nullptr);
    ~BatchUpdatePage() override;

    Ui::BatchUpdatePage *form() const { return ui.get(); }
    bool isRunning() const;
    // Adds a ticked row; false when the id cannot make a topic or is listed already.
    bool addGateway(const QString &gatewayId);
    // The record's id of the batch that ran last; empty before the first.
    QString runId() const { return run; }

public slots:
    void start();
    void stop();

signals:
    void runningChanged(bool running);
    void batchFinished();

private:
    void onAddPressed();
    void loadKnownGateways();
    void removeUnticked();
    QStringList tickedGateways() const;
    int rowOfGateway(const QString &gatewayId) const;
    QString startProblem(const QStringList &gateways, QByteArray *image) const;
    bool retryingRun() const;
    QString takeRunToRetry(QStringList *gateways);
    void recordTries();
    UpdateRecord targetRecord(int index) const;
    void beginTryRecord(int index);
    void completeTryRecord(int index, bool retrying);
    void recordUntried(int index);
    void sayLastUpdate(int index, const QString &device);
    void prepareRows(const QStringList &gateways);
    void startFleet();
    const FleetRunner &runner() const;
    void showTarget(int index);
    void showProgress(int index, qint64 done, qint64 total);
    void finishFleet();
    void setRunning(bool running);
    void setStatus(const QString &text, bool failed);
    void setCell(int row, int column, const QString &text);
    QProgressBar *progressBar(int row) const;

    std::unique_ptr<Ui::BatchUpdatePage> ui;
    BrokerSession &session;
    Context context;
    std::unique_ptr<GatewayFleet> fleet;
    std::vector<std::unique_ptr<ForwardingReporter>> reporters;
    QStringList runGateways;
    QVector<int> rows;
    QByteArray runImage;
    TargetKind runTarget = TargetKind::Gateway;
    QString run;
    QString runSha256;
    UpdateRecord runRecord;
    QVector<std::optional<UpdateRecord>> tryRecords;
};
