#include "downloadcheck.h"

#include "cloudenvelope.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace DownloadCheck {

QString problem(const QByteArray &body, qint64 expectedLength)
{
    if (body.isEmpty())
        return QStringLiteral("the download is empty");
    if (CloudEnvelope::isEnvelope(body)) {
        const QJsonObject reply = QJsonDocument::fromJson(body).object();
        return QStringLiteral("the service answered instead of sending the file: code %1, message %2")
            .arg(reply.value(QStringLiteral("code")).toVariant().toString(),
                 reply.value(QStringLiteral("message")).toString());
    }
    // A proxy or a captive portal answers with a page and HTTP 200; flashed, it bricks the device.
    const QByteArray start = body.left(512).trimmed().toLower();
    if (start.startsWith("<!doctype html") || start.startsWith("<html") || start.startsWith("<?xml"))
        return QStringLiteral("the download is a web page, not a file");
    if (expectedLength >= 0 && body.size() != expectedLength)
        return QStringLiteral("the download has %1 bytes where the record gives %2")
            .arg(body.size())
            .arg(expectedLength);
    return QString();
}

} // namespace DownloadCheck
