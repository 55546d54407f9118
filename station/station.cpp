#include "station/station.h"

#include "platform/portidentity.h"
#include "station/stationports.h"
#include "station/stationslot.h"

#include <QFileInfo>
#include <QTimer>

Station::Station(const StationOptions &options, const QByteArray &image, QObject *parent)
    : QObject(parent), settings(options), image(image)
{
    qRegisterMetaType<StationSlotStatus>();
    qRegisterMetaType<StationUnit>();
}

Station::~Station()
{
    for (StationSlot *slot : slotList)
        delete slot;
}

void Station::start()
{
    if (running)
        return;
    running = true;
    stopping = false;
    tally.start();
    ports = new StationPorts(this);
    QStringList paths;
    for (const QString &port : qAsConst(settings.ports)) {
        if (QFileInfo(port).isAbsolute())
            paths << port;
    }
    ports->watchAlso(paths);
    connect(ports, &StationPorts::changed, this, &Station::onPortsChanged);
    ports->start(settings.ports.isEmpty());
    for (const QString &port : qAsConst(settings.ports))
        addSlot(port)->start();
}

StationSlot *Station::addSlot(const QString &port)
{
    auto *slot = new StationSlot(port, settings, image);
    slotList.push_back(slot);
    slot->setDoneCheck([this](const QString &address) { return doneReason(address); });
    connect(slot, &StationSlot::statusChanged, this,
            [this, port](const StationSlotStatus &status) { emit slotStateChanged(port, status); });
    connect(slot, &StationSlot::consoleLine, this,
            [this, port](const QString &text) { emit consoleLine(port, text); });
    connect(slot, &StationSlot::progress, this,
            [this, port](qint64 done, qint64 total) { emit progress(port, done, total); });
    connect(slot, &StationSlot::unitStarted, this,
            [this, slot](const QString &device) { onUnitStarted(slot, device); });
    connect(slot, &StationSlot::unitFinished, this, &Station::onUnitFinished);
    emit slotAdded(port);
    emit slotStateChanged(port, slot->status());
    return slot;
}

void Station::removeSlot(const QString &port)
{
    for (auto it = slotList.begin(); it != slotList.end(); ++it) {
        if ((*it)->port() != port)
            continue;
        StationSlot *slot = *it;
        slotList.erase(it);
        slot->disconnect(this);
        slot->deleteLater();
        emit slotRemoved(port);
        return;
    }
}

StationSlot *Station::slotOf(const QString &port) const
{
    for (StationSlot *slot : slotList) {
        if (slot->port() == port)
            return slot;
    }
    return nullptr;
}

QStringList Station::slotNames() const
{
    QStringList names;
    for (const StationSlot *slot : slotList)
        names << slot->port();
    return names;
}

StationSlotStatus Station::slotStatus(const QString &slot) const
{
    const StationSlot *found = slotOf(slot);
    return found ? found->status() : StationSlotStatus();
}

// A port that came while the station runs is a slot of its own until it goes (once its update,
// if any, has ended); named ports only hear that they may open now.
void Station::onPortsChanged(const QStringList &appeared, const QStringList &disappeared)
{
    if (stopping)
        return;
    if (!settings.ports.isEmpty()) {
        for (StationSlot *slot : slotList)
            slot->portsChanged();
        return;
    }
    for (const QString &port : disappeared) {
        StationSlot *slot = slotOf(port);
        if (slot && !slot->isBusy())
            removeSlot(port);
    }
    for (const QString &port : appeared) {
        if (!slotOf(port))
            addSlot(port)->start();
    }
}

QString Station::doneReason(const QString &address) const
{
    if (done.contains(address))
        return QStringLiteral("done in this run: remove the device");
    return earlierCheck ? earlierCheck(address) : QString();
}

// Two units of one address at once are both updated; each says it met the other.
void Station::onUnitStarted(StationSlot *slot, const QString &device)
{
    for (StationSlot *other : slotList) {
        if (other != slot && other->deviceOnSlot() == device) {
            other->markSeenTwice();
            slot->markSeenTwice();
        }
    }
    emit unitStarted(slot->port(), device);
}

void Station::onUnitFinished(const StationUnit &unit)
{
    tally.add(unit);
    if (unit.result == StationUnit::Result::Success)
        done.insert(unit.device);
    emit unitFinished(unit);
    if (settings.count > 0 && tally.passed() >= settings.count && !stopping) {
        // Units already under way end as they would: no device is left half written.
        stopping = true;
        for (StationSlot *slot : slotList)
            slot->drain();
    }
    // A slot whose port went during its update leaves with it.
    if (settings.ports.isEmpty() && ports && !ports->ports().contains(unit.slot) && !stopping)
        QTimer::singleShot(0, this, [this, port = unit.slot] {
            StationSlot *slot = slotOf(port);
            if (slot && !slot->isBusy() && !ports->ports().contains(port))
                removeSlot(port);
        });
    finishWhenIdle();
}

void Station::stop(const UpdateFailure &why)
{
    if (!running)
        return;
    stopping = true;
    stopCause = why;
    for (StationSlot *slot : slotList)
        slot->stop(why);
    finishWhenIdle();
}

void Station::finishWhenIdle()
{
    if (!running || !stopping)
        return;
    for (const StationSlot *slot : slotList) {
        if (slot->isBusy())
            return;
    }
    running = false;
    // After the slot's own signals of this turn have gone out.
    QTimer::singleShot(0, this, &Station::finished);
}
