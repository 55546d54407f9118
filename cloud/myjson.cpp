#include "cloud/myjson.h"

#include "core/debugtrace.h"

#include <QJsonDocument>
#include <QJsonParseError>

QJsonObject *MyJson::paser(QJsonObject *output, const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return nullptr;
    *output = document.object();
    MODULE_TRACE_NAMED(lcCloud, "MyJson.cpp", "paser") << "json paser success";
    return output;
}
