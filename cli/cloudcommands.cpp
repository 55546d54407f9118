#include "cli/cloudcommands.h"

#include "cloud/accountreply.h"
#include "cloud/cloudconfig.h"
#include "cloud/cloudenvelope.h"
#include "cloud/cloudservice.h"
#include "cloud/downloadcheck.h"
#include "cloud/firmwarecatalogue.h"
#include "cloud/myjson.h"
#include "cloud/servicetext.h"
#include "update/updatesession.h"

namespace CloudCommands {

namespace {

QString loginProblem(AccountReply::Verdict verdict, const QJsonObject &reply)
{
    switch (verdict) {
    case AccountReply::Verdict::NotJson:
        return QStringLiteral("the login reply is not JSON");
    case AccountReply::Verdict::CodeNotNumber:
        return QStringLiteral("login refused: the reply has no numeric code (%1)")
            .arg(CloudEnvelope::describe(reply));
    case AccountReply::Verdict::Refused:
        return QStringLiteral("login refused: ") + CloudEnvelope::describe(reply);
    default:
        return QString();
    }
}

// Whether the request got an answer; why not in `reason` when it did not.
bool answered(const HttpResult &result, QString *reason)
{
    if (!result.ok)
        *reason = result.error;
    return result.ok;
}

bool logIn(CloudService &service, const QString &account, const QString &password, QString *reason)
{
    QJsonObject reply;
    const HttpResult login = service.login(account, password);
    if (!answered(login, reason))
        return false;
    const AccountReply::Verdict verdict = AccountReply::judge(login, &reply);
    if (verdict != AccountReply::Verdict::Accepted) {
        *reason = loginProblem(verdict, reply);
        return false;
    }
    const HttpResult information = service.userInformation(account);
    if (!answered(information, reason))
        return false;
    const QList<int> roles =
        MyJson::paser(&reply, information.body) ? AccountReply::roles(reply, false) : QList<int>();
    if (roles.isEmpty())
        *reason =
            QStringLiteral("login refused: the user information of %1 gives no numeric role").arg(account);
    return !roles.isEmpty();
}

void printRecord(const QJsonObject &record, FILE *out)
{
    const QString line =
        FirmwareCatalogue::numberText(record, QStringLiteral("id")) + QLatin1Char('\t') +
        ServiceText::withoutControls(
            FirmwareCatalogue::stringText(record, QStringLiteral("originFileName"))) +
        QLatin1Char('\t') + FirmwareCatalogue::numberText(record, QStringLiteral("length")) +
        QLatin1Char('\t') +
        ServiceText::withoutControls(FirmwareCatalogue::stringText(record, QStringLiteral("infor")));
    fprintf(out, "%s\n", line.toUtf8().constData());
}

bool fetchCatalogue(CloudService &service, const QString &account, FirmwareCatalogue *catalogue,
                    QString *reason)
{
    const HttpResult list = service.firmwareList(account);
    if (!answered(list, reason))
        return false;
    QJsonObject reply;
    const bool listed = MyJson::paser(&reply, list.body) && catalogue->takeReply(reply);
    if (!listed)
        *reason = QStringLiteral("the catalogue reply is no success: ") + CloudEnvelope::describe(reply);
    return listed;
}

// The length the catalogue gives for record `id`, which the download must have; -1 when the
// record cannot be found or gives no usable length: a download cut short could not be told
// from a whole one.
qint64 recordLength(CloudService &service, const QString &id, QString *reason)
{
    FirmwareCatalogue catalogue;
    QJsonObject record;
    if (!fetchCatalogue(service, CloudConfig::catalogueAccount(), &catalogue, reason))
        return -1;
    if (!catalogue.findById(id, &record)) {
        *reason = QStringLiteral("record %1 is not in the catalogue").arg(id);
        return -1;
    }
    const qint64 length = FirmwareCatalogue::usableLength(record, UpdateSession::kMaxImageBytes);
    if (length < 0)
        *reason =
            QStringLiteral("record %1 gives no usable length (a whole number of bytes from 1 to %2), so "
                           "its download cannot be checked")
                .arg(id)
                .arg(UpdateSession::kMaxImageBytes);
    return length;
}

} // namespace

bool listFirmware(const QString &account, const QString &password, const QString &filter, FILE *out,
                  QString *reason)
{
    MyHttp http;
    CloudService service(http);
    if (!logIn(service, account, password, reason))
        return false;
    FirmwareCatalogue catalogue;
    if (!fetchCatalogue(service, account, &catalogue, reason))
        return false;
    if (!filter.isEmpty())
        catalogue.filter(filter);
    for (const QJsonObject &record : catalogue.shown())
        printRecord(record, out);
    return true;
}

bool downloadFirmware(const QString &id, QByteArray *image, QString *reason)
{
    MyHttp http;
    CloudService service(http);
    const qint64 length = recordLength(service, id, reason);
    if (length < 0)
        return false;
    const HttpResult download = service.firmwareDownload(id, length);
    if (!download.ok) {
        *reason = QStringLiteral("download of record %1 failed: %2").arg(id, download.error);
        return false;
    }
    *image = download.body;
    const QString problem = DownloadCheck::problem(*image, length);
    if (!problem.isEmpty())
        *reason = QStringLiteral("download of record %1 refused: %2").arg(id, problem);
    return problem.isEmpty();
}

} // namespace CloudCommands
