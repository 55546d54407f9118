#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

// What one target of one update left behind: who updated which device with which image, where,
// when and how it ended. A record is written when its target starts and completed when it ends;
// its id is made where it starts, so sending it to a shared store twice never counts it twice.
struct UpdateRecord
{
    QString id;        // a UUID without braces
    QString run;       // one UUID per flasher command, batch or window update
    QDateTime started; // UTC
    QDateTime ended;   // UTC; invalid while the update runs
    QString station;
    QString operatorName;
    QString toolVersion;
    QString link;   // "serial" | "gateway"
    QString target; // as given: a port name, "serial:SN", a gateway id
    QString portSerial;
    QString portUsbId; // "vvvv:pppp"
    QString portById;
    QString gateway;
    QString targetKind; // "module" | "demo" | "gateway"
    QString device;     // the SPLIT LEN address as 8 upper-case hex digits; empty before it came
    std::optional<int> splitLen;
    std::optional<int> packetLen;
    QString imageSha256; // lower-case hex
    std::optional<qint64> imageSize;
    QString imageName;
    QString imageSource; // a file path, or "cloud:ID NAME"
    QString result;      // "running" while it runs, then success | failed | skipped | stopped | interrupted
    QString kind;        // UpdateFailure::kindName, empty after a success
    QString reason;
    std::optional<qint64> bytesAcked;
    std::optional<int> repeats;
    std::optional<int> timeouts;
    std::optional<int> connectAttempts;
    std::optional<double> seconds;

    // The field names, in the order of the CSV columns and the JSON members.
    static QStringList fieldNames();
    // A field that does not apply is null.
    QJsonObject toJson() const;
    static UpdateRecord fromJson(const QJsonObject &object);
    // One RFC 4180 line (no line end); fields with commas, quotes or line ends are quoted.
    QString toCsvLine() const;
    static QString csvHeader();
    // Times as ISO 8601 in UTC with milliseconds: 2026-12-09T13:16:27.123Z.
    static QString timeText(const QDateTime &time);
};
