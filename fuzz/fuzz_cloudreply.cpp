// Whatever the cloud service (or whoever answers in its place) sends: envelopes, catalogue
// records, account replies and downloads must be judged without reading out of bounds.
#include "cloud/accountreply.h"
#include "cloud/cloudenvelope.h"
#include "cloud/downloadcheck.h"
#include "cloud/firmwarecatalogue.h"
#include "cloud/myjson.h"
#include "cloud/selfupdate.h"
#include "fuzz/fuzzsupport.h"

#include <QJsonDocument>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    startFuzzedApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body(reinterpret_cast<const char *>(data), int(size));
    QJsonObject parsed;
    MyJson::paser(&parsed, body);
    AccountReply::judge(HttpResult{true, body, QString()}, &parsed);
    AccountReply::roles(parsed, true);
    AccountReply::roles(parsed, false);

    const QJsonObject reply = QJsonDocument::fromJson(body).object();
    QJsonArray message;
    CloudEnvelope::successMessage(reply, &message);
    CloudEnvelope::isEnvelope(body);

    FirmwareCatalogue catalogue;
    catalogue.takeReply(reply);
    catalogue.filter(QString::fromUtf8(body.left(8)));
    for (const QJsonObject &record : catalogue.shown()) {
        FirmwareCatalogue::numberText(record, QStringLiteral("id"));
        FirmwareCatalogue::stringText(record, QStringLiteral("originFileName"));
        DownloadCheck::problem(body, FirmwareCatalogue::expectedLength(record));
    }
    QJsonObject newest;
    if (SelfUpdate::newestRecord(reply, &newest))
        SelfUpdate::isNewer(newest.value(QStringLiteral("appVersion")).toString(),
                            QStringLiteral("202410071921"));
    return 0;
}
