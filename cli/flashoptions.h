#pragma once

#include "history/historyquery.h"
#include "protocol/targetkind.h"
#include "update/fleetrunner.h"

#include <QString>
#include <QStringList>

// What the flasher was asked to do, read from its command line.
struct FlashOptions
{
    enum class Action
    {
        Flash,
        ListPorts,
        ListFirmware,
        History,
        Exit
    };

    // A file of targets holds at most this much: one name a line.
    static constexpr qint64 kMaxTargetsFileBytes = 1024 * 1024;
    static constexpr int kMaxTargets = 10000;

    Action action = Action::Flash;
    QString imagePath;
    // The ports (or, with --mqtt, the gateway ids) to update, in the order given.
    QStringList targets;
    qint32 baudRate = 115200;
    TargetKind target = TargetKind::Module;
    FleetPolicy policy;
    bool json = false;
    bool trace = false;
    // The cloud catalogue: the login of --list-firmware, its filter, and the record that
    // --cloud-id flashes instead of an image file.
    QString account;
    QString password;
    QString filter;
    QString cloudId;
    // Through an MQTT broker and radio gateways instead of serial ports (--mqtt).
    QString mqttHost;
    quint16 mqttPort = 1883;
    QString mqttUser;
    QString mqttPassword;
    QString mqttClientId;
    bool tls = false;
    QString caFile;
    // The update record: each target's record is written unless --no-history, into the store
    // --history-url (or PLOVIKKIT_HISTORY_URL) names, else the local one.
    bool noHistory = false;
    QString historyUrl;
    QString stationName;
    // --history: which records to print, and how (a table, --json, --csv, or --summary).
    HistoryQuery historyQuery;
    bool csv = false;
    bool summary = false;
    // Rollouts: skip what already has this image, run again what a run did not get through.
    bool skipDone = false;
    QString retryFailed;
    // How long the targets not yet started wait for a broker that is down (--broker-wait).
    int brokerWaitSeconds = 60;
    // A production station (--station): the ports are its slots (none: every port that appears),
    // each updating one device after another until `stationCount` passed (0: until stopped).
    bool station = false;
    int probeIntervalMs = 1000;
    int goneAfter = 3;
    int stationCount = 0;
    // Set when the command line is unusable; the text names the cause in one line.
    QString error;
    // Help or version text to print before exiting with 0.
    QString exitText;

    bool usesBroker() const { return !mqttHost.isEmpty(); }

    static FlashOptions parse(const QStringList &arguments);
};
