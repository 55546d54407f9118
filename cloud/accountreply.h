#pragma once

#include "cloud/httpresult.h"

#include <QJsonObject>
#include <QList>

// What the account requests' replies mean. The login and the password update answer with an
// envelope whose "code" decides; the user information lists the user's roles.
namespace AccountReply {

enum class Verdict
{
    NoReply,       // the request failed
    NotJson,       // the body is not JSON
    CodeNotNumber, // "code" absent or not a JSON number
    Refused,       // "code" a number other than 200
    Accepted,      // "code" the number 200
};

// Parses the body of `reply` into `parsed` and judges it. `parsed` keeps its previous content
// unless the request succeeded with a JSON body.
Verdict judge(const HttpResult &reply, QJsonObject *parsed);

// The roles of a user-information reply, one for each element of its "message" array that is an
// object with a numeric "role", in order. `anyCode` accepts any numeric "code"; otherwise "code"
// must be the number 200.
QList<int> roles(const QJsonObject &reply, bool anyCode);

} // namespace AccountReply
