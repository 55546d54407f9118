#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

// A gateway that floods its answer topics must not flood the console: of the messages that answer
// nothing, a few a second per gateway are shown; the rest are counted and said in one line once
// that second is over. A single-shot timer says the count when no further message comes.
class ChatterBound : public QObject
{
    Q_OBJECT
public:
    using Console = std::function<void(const QString &)>;
    static constexpr int kLinesPerSecond = 5;

    explicit ChatterBound(QObject *parent = nullptr);

    void offer(const QString &gatewayId, const QString &text, const Console &console);
    // The gateway's console goes away: nothing more is said to it.
    void forget(const QString &gatewayId) { gateways.remove(gatewayId); }

private:
    struct Gateway
    {
        QElapsedTimer second;
        int shown = 0;
        int held = 0;
        Console console;
    };

    void sayHeld(const QString &gatewayId, Gateway &gateway);
    void onSecondOver();
    void armForEarliest();

    QHash<QString, Gateway> gateways;
    QTimer secondOver;
};
