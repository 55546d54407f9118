#pragma once

#include <QByteArray>
#include <QString>

// Whether a download can be a firmware image or a build at all. The service answers a bad
// request with its JSON envelope and HTTP 200, so a successful transfer proves nothing.
namespace DownloadCheck {

// Why `body` cannot be the file asked for, in one line; empty when it is plausible. The length
// is checked only when `expectedLength` is not negative.
QString problem(const QByteArray &body, qint64 expectedLength = -1);

} // namespace DownloadCheck
