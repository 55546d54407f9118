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

// Looks record `id` up in the built-in catalogue account's catalogue and downloads it into
// `image`, reading no more than the record's length. Returns false with the reason when the
// record is not listed or gives no usable length, or when the download fails or is no plausible
// firmware (empty, the service's answer, a web page, or not of the record's length).
bool downloadFirmware(const QString &id, QByteArray *image, QString *reason);

} // namespace CloudCommands
