#pragma once

#include <QMetaType>
#include <QString>

// What a slot shows: its state and the texts that go with it.
struct StationSlotStatus
{
    enum class State
    {
        Waiting, // empty: probing, or its port cannot be used now (see `reason`)
        Busy,    // updating `device`
        Pass,    // `device` passed; waiting for it to go
        Fail,    // `device` (when known) failed: `reason`, `whatToCheck`; waiting for it to go
        Remove,  // `device` is done already: nothing is sent to it; waiting for it to go
        Gone,    // the device left (or the port went); the slot waits again next
    };

    State state = State::Waiting;
    QString device;
    QString reason;
    QString whatToCheck;
    bool seenTwice = false;

    // The JSON word: waiting, busy, pass, fail, remove, gone.
    static QString stateName(State state)
    {
        switch (state) {
        case State::Busy:
            return QStringLiteral("busy");
        case State::Pass:
            return QStringLiteral("pass");
        case State::Fail:
            return QStringLiteral("fail");
        case State::Remove:
            return QStringLiteral("remove");
        case State::Gone:
            return QStringLiteral("gone");
        case State::Waiting:
            break;
        }
        return QStringLiteral("waiting");
    }
};
Q_DECLARE_METATYPE(StationSlotStatus)
