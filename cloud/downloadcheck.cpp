#include "cloud/downloadcheck.h"

#include "cloud/cloudenvelope.h"

#include <QJsonObject>

namespace DownloadCheck {

QString problem(const QByteArray &body, qint64 expectedLength)
{
    if (body.isEmpty())
        return QStringLiteral("the download is empty");
    QJsonObject reply;
    if (CloudEnvelope::isEnvelope(body, &reply))
        return QStringLiteral("the service answered instead of sending the file: ") +
               CloudEnvelope::describe(reply);
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
