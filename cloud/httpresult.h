#pragma once

#include <QByteArray>
#include <QString>

// What one request to the cloud service gave: the whole reply body when `ok`, otherwise why it
// failed, in one line. A failed request has no body; a successful one has no error.
struct HttpResult
{
    bool ok = false;
    QByteArray body;
    QString error;
};
