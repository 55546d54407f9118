#pragma once

#include "cli/flashoptions.h"
#include "history/updaterecord.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <memory>

class OutputWriter;
class Station;
class StationConsole;
class StationHistory;

// plovikkit-flash --station: the station over the ports given (or every port that appears), its
// board and JSON on the console, a record per unit, and the summary when it ends (--count, SIGINT).
class StationFlash
{
public:
    StationFlash(const FlashOptions &options, const UpdateRecord &image);
    ~StationFlash();

    // Runs the station until it ends and returns the exit status.
    int run(const QByteArray &bytes);

private:
    void connectStation();
    void stopBySignal(int signalNumber);
    int exitStatus() const;
    void drainOutput();

    const FlashOptions &options;
    UpdateRecord image;
    std::unique_ptr<OutputWriter> writer;
    std::unique_ptr<StationHistory> history;
    std::unique_ptr<Station> station;
    std::unique_ptr<StationConsole> console;
    // Slots whose port opened at least once: a station none of whose ports ever opened ran nothing.
    QSet<QString> slotsOpened;
    QString signalReason;
};
