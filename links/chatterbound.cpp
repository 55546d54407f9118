#include "links/chatterbound.h"

#include <climits>

namespace {

constexpr qint64 kSecondMs = 1000;

} // namespace

ChatterBound::ChatterBound(QObject *parent) : QObject(parent)
{
    secondOver.setSingleShot(true);
    connect(&secondOver, &QTimer::timeout, this, &ChatterBound::onSecondOver);
}

void ChatterBound::offer(const QString &gatewayId, const QString &text, const Console &console)
{
    Gateway &gateway = gateways[gatewayId];
    if (!gateway.second.isValid() || gateway.second.elapsed() >= kSecondMs) {
        sayHeld(gatewayId, gateway);
        gateway.second.start();
        gateway.shown = 0;
    }
    gateway.console = console;
    if (gateway.shown < kLinesPerSecond) {
        ++gateway.shown;
        console(text);
        return;
    }
    ++gateway.held;
    if (!secondOver.isActive())
        secondOver.start(int(qMax<qint64>(0, kSecondMs - gateway.second.elapsed())));
}

void ChatterBound::sayHeld(const QString &gatewayId, Gateway &gateway)
{
    if (gateway.held == 0)
        return;
    const int held = gateway.held;
    gateway.held = 0;
    if (gateway.console)
        gateway.console(QStringLiteral("… %1 more messages from %2").arg(held).arg(gatewayId));
}

void ChatterBound::onSecondOver()
{
    for (auto it = gateways.begin(); it != gateways.end(); ++it) {
        if (it->held > 0 && it->second.elapsed() >= kSecondMs)
            sayHeld(it.key(), *it);
    }
    armForEarliest();
}

void ChatterBound::armForEarliest()
{
    qint64 earliest = LLONG_MAX;
    for (const Gateway &gateway : qAsConst(gateways)) {
        if (gateway.held > 0)
            earliest = qMin(earliest, kSecondMs - gateway.second.elapsed());
    }
    if (earliest != LLONG_MAX)
        secondOver.start(int(qMax<qint64>(0, earliest)));
}
