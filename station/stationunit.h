#pragma once

#include "update/updatefailure.h"
#include "update/updatestats.h"

#include <QMetaType>
#include <QString>

// One device a slot dealt with: updated (success or failed) or turned away as done (skipped).
struct StationUnit
{
    enum class Result
    {
        Success,
        Failed,
        Skipped,
    };

    QString slot;   // the port as given
    QString device; // the SPLIT LEN address, 8 upper-case hex digits
    Result result = Result::Failed;
    UpdateFailure failure; // kind None after a success
    QString whatToCheck;   // the link's advice after a failure
    double seconds = 0;
    UpdateStats stats;
    // Another slot held a device of the same address while this one was updated.
    bool seenTwice = false;

    // "success", "failed", "skipped".
    static QString resultName(Result result)
    {
        switch (result) {
        case Result::Success:
            return QStringLiteral("success");
        case Result::Skipped:
            return QStringLiteral("skipped");
        case Result::Failed:
            break;
        }
        return QStringLiteral("failed");
    }
};
Q_DECLARE_METATYPE(StationUnit)
