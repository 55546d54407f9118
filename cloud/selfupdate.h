#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// The tool's own newer build: which version the service holds, and the hand-over of a
// downloaded build to the restart script that puts it in place.
namespace SelfUpdate {

// The last record of a success reply to the version query (the last one counts, not the
// greatest). False when the reply is no success or lists nothing.
bool newestRecord(const QJsonObject &reply, QJsonObject *record);

// Both versions read as unsigned decimal numbers (text that is no number reads as 0).
bool isNewer(const QString &newest, const QString &running);

// Writes `build` completely into the temporary build file in `folder`, then starts the restart
// script there, which replaces `program` (the running executable) with it, keeps the old one
// beside it and puts that back when the new one does not start. Returns why the hand-over did
// not happen; empty when the script is running and the tool should end now. Only a build of
// exactly `expectedLength` bytes (a record without a usable length has none) that is a program
// for this system is written, and nothing is written when `program` could not be replaced.
QString handOver(const QByteArray &build, const QString &folder, const QString &program,
                 qint64 expectedLength);

} // namespace SelfUpdate
