#pragma once

#include <QJsonArray>
#include <QJsonObject>

// The cloud service answers with {"code": <number>, "message": <payload>}; 200 means success.
namespace CloudEnvelope {

// True when "code" is a JSON number of integer value 200 and "message" is an array, which is then
// stored in `message`. A code sent as text, another number or a message of another type fail.
bool successMessage(const QJsonObject &reply, QJsonArray *message);

// True when `bytes` hold such a reply object (any code): the service's answer, not a file.
bool isEnvelope(const QByteArray &bytes);

} // namespace CloudEnvelope
