#include "cloud/cloudservice.h"

#include "cloud/cloudconfig.h"
#include "cloud/passworddigest.h"
#include "core/jsontext.h"

#include <QUrl>

namespace {

QString queryValue(const QString &value)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

} // namespace

CloudService::CloudService(MyHttp &http) : http(http) {}

HttpResult CloudService::login(const QString &account, const QString &password)
{
    const QString body =
        QStringLiteral("{\"account\":\"%1\",\"password\":\"%2\"}")
            .arg(JsonText::escaped(account), JsonText::escaped(PasswordDigest::of(password)));
    return http.post(CloudConfig::endpoint(kLoginPath), QString(), body);
}

HttpResult CloudService::userInformation(const QString &account)
{
    return http.get(CloudConfig::endpoint(kUserInforPath), QStringLiteral("?account=") + queryValue(account));
}

HttpResult CloudService::updatePassword(const QString &account, const QString &newPassword,
                                        const QString &oldPassword)
{
    const QString body =
        QStringLiteral("{\"account\":\"%1\",\"password\":\"%2\",\"oldPassword\":\"%3\"}")
            .arg(JsonText::escaped(account), JsonText::escaped(PasswordDigest::of(newPassword)),
                 JsonText::escaped(PasswordDigest::of(oldPassword)));
    return http.post(CloudConfig::endpoint(kPasswordUpdatePath), QString(), body);
}

HttpResult CloudService::firmwareList(const QString &account)
{
    return http.get(CloudConfig::endpoint(kFileInforPath), QStringLiteral("?account=") + queryValue(account));
}

HttpResult CloudService::firmwareDownload(const QString &id, qint64 maxBytes)
{
    return http.get(CloudConfig::endpoint(kFileDownloadPath),
                    QStringLiteral("?account=") + queryValue(CloudConfig::catalogueAccount()) +
                        QStringLiteral("&id=") + queryValue(id),
                    MyHttp::download(maxBytes));
}

HttpResult CloudService::newestAppVersion()
{
    // The service takes the project model first here and the account first in the download.
    return http.get(CloudConfig::endpoint(kFileInforPath),
                    QStringLiteral("?projectModel=") + kAppProjectModel + QStringLiteral("&account=") +
                        queryValue(CloudConfig::catalogueAccount()));
}

HttpResult CloudService::appDownload(qint64 maxBytes)
{
    return http.get(CloudConfig::endpoint(kFileDownloadPath),
                    QStringLiteral("?account=") + queryValue(CloudConfig::catalogueAccount()) +
                        QStringLiteral("&projectModel=") + kAppProjectModel,
                    MyHttp::download(maxBytes));
}
