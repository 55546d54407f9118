#pragma once

#include <QByteArray>
#include <QString>
#include <cstdio>

// The flasher's way into the cloud catalogue: the same requests and reply rules as the window's
// account window, catalogue page and row click.
namespace CloudCommands {

// Logs in as `account` (login, then the user information, which must carry a numeric role) and
// writes the account's catalogue to `out`, one "<id>\t<originFileName>\t<length>\t<infor>" line
// per record; with a non-empty `filter` only the records the catalogue page's filter keeps.
// Returns false with the reason in `reason` when the service fails or refuses.
bool listFirmware(const QString &account, const QString &password, const QString &filter, FILE *out,
                  QString *reason);

// Downloads record `id` with the built-in catalogue account into `image`. Returns false with the
// reason when the download fails or is no plausible firmware (empty, or the service's answer).
bool downloadFirmware(const QString &id, QByteArray *image, QString *reason);

} // namespace CloudCommands
