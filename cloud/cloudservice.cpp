#include "cloudservice.h"

#include "cloudconfig.h"
#include "jsontext.h"
#include "passworddigest.h"

#include <QUrl>

namespace {

QString queryValue(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

} // namespace

CloudService::CloudService(MyHttp &http) : http(http) {}

bool CloudService::login(const QString &account, const QString &password,
                         const MyHttp::BodyCallback &callback, QString *error)
{
    const QString body =
        QStringLiteral("{\"account\":\"%1\",\"password\":\"%2\"}")
            .arg(JsonText::escaped(account), JsonText::escaped(PasswordDigest::of(password)));
    return http.post(CloudConfig::endpoint(kLoginPath), QString(), body, callback, error);
}

bool CloudService::userInformation(const QString &account, const MyHttp::BodyCallback &callback,
                                   QString *error)
{
    return http.get(CloudConfig::endpoint(kUserInforPath), QStringLiteral("?account=") + queryValue(account),
                    callback, error);
}

bool CloudService::updatePassword(const QString &account, const QString &newPassword,
                                  const QString &oldPassword, const MyHttp::BodyCallback &callback,
                                  QString *error)
{
    const QString body =
        QStringLiteral("{\"account\":\"%1\",\"password\":\"%2\",\"oldPassword\":\"%3\"}")
            .arg(JsonText::escaped(account), JsonText::escaped(PasswordDigest::of(newPassword)),
                 JsonText::escaped(PasswordDigest::of(oldPassword)));
    return http.post(CloudConfig::endpoint(kPasswordUpdatePath), QString(), body, callback, error);
}

bool CloudService::firmwareList(void *context, const QString &account,
                                const MyHttp::ContextCallback &callback, QString *error)
{
    return http.get(context, nullptr, nullptr, CloudConfig::endpoint(kFileInforPath),
                    QStringLiteral("?account=") + queryValue(account), callback, error);
}

bool CloudService::firmwareDownload(void *context, const QString &id, qint64 maxBytes,
                                    const MyHttp::ContextCallback &callback, QString *error)
{
    return http.get(context, nullptr, nullptr, CloudConfig::endpoint(kFileDownloadPath),
                    QStringLiteral("?account=") + queryValue(CloudConfig::catalogueAccount()) +
                        QStringLiteral("&id=") + queryValue(id),
                    callback, error, MyHttp::download(maxBytes));
}

bool CloudService::newestAppVersion(void *context, const MyHttp::ContextCallback &callback, QString *error)
{
    // The service takes the project model first here and the account first in the download.
    return http.get(context, nullptr, nullptr, CloudConfig::endpoint(kFileInforPath),
                    QStringLiteral("?projectModel=") + kAppProjectModel + QStringLiteral("&account=") +
                        queryValue(CloudConfig::catalogueAccount()),
                    callback, error);
}

bool CloudService::appDownload(void *context, qint64 maxBytes, const MyHttp::ContextCallback &callback,
                               QString *error)
{
    return http.get(context, nullptr, nullptr, CloudConfig::endpoint(kFileDownloadPath),
                    QStringLiteral("?account=") + queryValue(CloudConfig::catalogueAccount()) +
                        QStringLiteral("&projectModel=") + kAppProjectModel,
                    callback, error, MyHttp::download(maxBytes));
}
