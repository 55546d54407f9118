#pragma once

#include <QJsonArray>
#include <QJsonObject>

// The cloud service answers with {"code": <number>, "message": <payload>}; 200 means success.
namespace CloudEnvelope {

// True when "code" is a JSON number of integer value 200 and "message" is an array, which is then
// stored in `message`. A code sent as text, another number or a message of another type fail.
bool successMessage(const QJsonObject &reply, QJsonArray *message);
// The same, but any numeric code will do.
bool messageArray(const QJsonObject &reply, QJsonArray *message);

// True when `bytes` hold such a reply object (any code): the service's answer, not a file. The
// object goes to `reply` when given.
bool isEnvelope(const QByteArray &bytes, QJsonObject *reply = nullptr);

// "code 404, message no such file": the reply as a failure reason shows it.
QString describe(const QJsonObject &reply);
// The reply's "message" as one line of bounded length, for a failure reason or a message box.
QString messageText(const QJsonObject &reply);

} // namespace CloudEnvelope
