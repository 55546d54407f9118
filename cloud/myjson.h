#pragma once

#include <QByteArray>
#include <QJsonObject>

// Turns a reply body into the JSON object the callers inspect.
class MyJson
{
public:
    // Stores the top-level object of `bytes` in `output` (an array gives an empty object) and
    // returns `output`; returns null for bytes that are not JSON, leaving `output` as it was.
    static QJsonObject *paser(QJsonObject *output, const QByteArray &bytes);
};
