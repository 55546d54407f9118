#pragma once

#include "protocol/targetkind.h"
#include "update/fleetrunner.h"

#include <QByteArray>
#include <QStringList>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class BrokerSession;
class ForwardingReporter;
class GatewayFleet;
class QProgressBar;

namespace Ui {
class BatchUpdatePage;
}

// The window's page for many gateways at once: the user lists gateways (typed, or taken from
// the MQTT window's list), ticks those to update, and one start sends the chosen image to all
// of them through the window's broker connection. Each row shows its gateway's state, progress,
// time and result; the console lines go to the log with the gateway id in front.
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
    };

    BatchUpdatePage(BrokerSession &session, Context context, QWidget *parent = nullptr);
    ~BatchUpdatePage() override;

    Ui::BatchUpdatePage *form() const { return ui.get(); }
    bool isRunning() const;
    // Adds a ticked row; false when the id cannot make a topic or is listed already.
    bool addGateway(const QString &gatewayId);

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
};
