#pragma once

#include <QList>
#include <QString>

// What a set of records adds up to: per image, how many devices it reached and how reliably;
// per station, how many units it handled and how many of them it got through.
struct HistorySummary
{
    struct Image
    {
        QString sha256;
        QString name;
        int devicesUpdated = 0; // distinct devices (or targets without an address) with a success
        int attempts = 0;       // records that ended
        int successes = 0;
        double successRate = 0;   // successes / attempts, 0..1
        double medianSeconds = 0; // of the successes
    };
    struct Station
    {
        QString station;
        int units = 0;       // distinct devices (or targets without an address) it tried
        int unitsPassed = 0; // of them, those with a success there
        double yield = 0;    // unitsPassed / units, 0..1
    };
    QList<Image> images;     // most devices first
    QList<Station> stations; // by name

    // Two aligned tables, for a terminal.
    QString toText() const;

    // What the summary needs of one record.
    struct Outcome
    {
        QString imageSha256;
        QString imageName;
        QString station;
        QString unit; // the device, else the gateway, else the target
        QString result;
        double seconds = 0;
    };
    // Records still running are not counted.
    static HistorySummary of(const QList<Outcome> &outcomes);
};
